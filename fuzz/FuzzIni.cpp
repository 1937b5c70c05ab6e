// The configuration file's reader and writer against any content.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "config/IniFile.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace t5170::fuzz {

namespace {

struct Key {
    const char16_t* section;
    const char16_t* key;
};

// Every key the program reads or writes.
constexpr std::array<Key, 15> kKeys{{
    {u"Main", u"IzmU"},
    {u"Main", u"IzmR"},
    {u"Main", u"IzmAbs"},
    {u"Main", u"IzmPol"},
    {u"Main", u"AutoAdd"},
    {u"Main", u"Period"},
    {u"Connection", u"ComPort"},
    {u"Connection", u"ComNumber"},
    {u"Period", u"TimeInterval"},
    {u"Period", u"TimeIntervalType"},
    {u"Period", u"TypeNumberIzm"},
    {u"Period", u"NumberIzm"},
    {u"Period", u"TypeTimeIzm"},
    {u"Period", u"TimeIzm"},
    {u"Period", u"TimeIzmType"},
}};

QString text(const char16_t* s) {
    return QString::fromUtf16(s);
}

std::string show(const std::optional<QString>& v) {
    return v ? '"' + v->toStdString() + '"' : std::string("(none)");
}

// A value the program could write: a number, or a port name.
QString valueFrom(Bytes& in) {
    static const char kChars[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz/._-";
    const int kind = in.take() % 3;
    if (kind == 0) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | in.take();
        return QString::number(static_cast<std::int32_t>(v));
    }
    if (kind == 1)
        return IniFile::boolText(in.take() & 1);
    QString v;
    for (int n = 1 + in.take() % 24; n > 0; --n)
        v += QLatin1Char(kChars[in.take() % (sizeof kChars - 1)]);
    return v;
}

} // namespace

int iniInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    const Key& target = kKeys[in.take() % kKeys.size()];
    const QString value = valueFrom(in);
    const QByteArray content = in.restBytes();

    std::array<std::optional<QString>, kKeys.size()> before;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        before[i] = ini::lookup(content, text(kKeys[i].section), text(kKeys[i].key));
        if (before[i])
            if (const auto n = IniFile::parseInt(*before[i]))
                T5170_FUZZ_CHECK(IniFile::parseInt(QString::number(*n)) == n,
                                 "a number read does not read back");
    }

    const QByteArray written = ini::withKey(content, text(target.section), text(target.key), value);
    T5170_FUZZ_CHECK(ini::lookup(written, text(target.section), text(target.key)) == value,
                     "the key written reads back as " +
                         show(ini::lookup(written, text(target.section), text(target.key))) +
                         " instead of " + show(value));
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        if (&kKeys[i] == &target)
            continue;
        const auto after = ini::lookup(written, text(kKeys[i].section), text(kKeys[i].key));
        T5170_FUZZ_CHECK(after == before[i], QString::fromUtf16(kKeys[i].key).toStdString() +
                                                 " changed from " + show(before[i]) + " to " +
                                                 show(after) + " by a write of another key");
    }
    T5170_FUZZ_CHECK(ini::withKey(written, text(target.section), text(target.key), value) ==
                         written,
                     "writing the same value again changes the file");
    return 0;
}

} // namespace t5170::fuzz
