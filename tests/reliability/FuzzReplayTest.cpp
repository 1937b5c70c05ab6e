// Every committed seed and every recorded finding of the fuzz targets, run
// through the target's checks in the ordinary (and the sanitizer) build.

#include "FuzzTargets.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace {

using t5170::fuzz::Target;

std::vector<Target> targets() {
    return {{"decoder", t5170::fuzz::decoderInput},
            {"ini", t5170::fuzz::iniInput},
            {"xls", t5170::fuzz::xlsInput},
            {"xlsx", t5170::fuzz::xlsxInput},
            {"xlsx_rows", t5170::fuzz::xlsxRowsInput},
            {"typed_input", t5170::fuzz::typedInput}};
}

struct Input {
    Target target;
    QString path;
    std::string name; // test name: target, folder and file
};

void PrintTo(const Input& input, std::ostream* os) {
    *os << QDir(QStringLiteral(T5170_FUZZ_DIR)).relativeFilePath(input.path).toStdString();
}

std::vector<Input> inputs() {
    std::vector<Input> out;
    for (const Target& t : targets())
        for (const char* folder : {"corpus", "regressions"}) {
            const QDir dir(QStringLiteral(T5170_FUZZ_DIR "/%1/%2").arg(folder, t.name));
            for (const QString& f : dir.entryList(QDir::Files, QDir::Name)) {
                std::string name = std::string(t.name) + "_" + folder + "_" + f.toStdString();
                for (char& c : name)
                    if (!std::isalnum(static_cast<unsigned char>(c)))
                        c = '_';
                out.push_back({t, dir.filePath(f), name});
            }
        }
    return out;
}

class FuzzReplay : public ::testing::TestWithParam<Input> {};

TEST_P(FuzzReplay, PropertiesHold) {
    QFile f(GetParam().path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << GetParam().path.toStdString();
    const QByteArray data = f.readAll();
    std::vector<std::string> broken;
    t5170::fuzz::setFailureHandler([&broken](const std::string& what) { broken.push_back(what); });
    GetParam().target.run(reinterpret_cast<const std::uint8_t*>(data.constData()),
                          static_cast<std::size_t>(data.size()));
    t5170::fuzz::setFailureHandler({});
    for (const std::string& what : broken)
        ADD_FAILURE() << what;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplay, ::testing::ValuesIn(inputs()),
                         [](const auto& info) { return info.param.name; });

// The seed folders are part of the tree: an empty one means a target runs
// with nothing to start from.
TEST(FuzzReplay, EveryTargetHasSeeds) {
    for (const Target& t : targets())
        EXPECT_FALSE(QDir(QStringLiteral(T5170_FUZZ_DIR "/corpus/%1").arg(t.name))
                         .entryList(QDir::Files)
                         .isEmpty())
            << t.name;
}

} // namespace
