#include "sheet/SheetModel.h"

namespace t5170::sheet {

void checkSheetName(const QString& name) {
    const auto bad = [&name](const char* why) {
        throw SheetError("Недопустимое имя листа «" + name.left(64).toStdString() + "»: " + why);
    };
    if (name.isEmpty())
        bad("имя пусто");
    if (name.size() > 31)
        bad("длиннее 31 знака");
    for (QChar c : name)
        if (QStringView(u":\\/?*[]").contains(c))
            bad("знаки : \\ / ? * [ ] недопустимы");
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        bad("апостроф в начале или в конце");
}

bool sameSheetName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

void checkSheetNames(const Workbook& book) {
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        checkSheetName(book.sheets[i].name);
        for (std::size_t j = 0; j < i; ++j)
            if (sameSheetName(book.sheets[i].name, book.sheets[j].name))
                throw SheetError("Два листа с одинаковым именем «" +
                                 book.sheets[i].name.toStdString() + "»");
    }
}

} // namespace t5170::sheet
