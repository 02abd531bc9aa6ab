#include "settingsformat.h"
#include "hexdigits.h"

#include <QIODevice>
#include <algorithm>
#include <optional>
#include <vector>

namespace fenwa::platform {

namespace {

const char HexDigits[] = "0123456789ABCDEF";

void appendHexEscape(QByteArray& out, unsigned char c) {
    out += "\\x";
    out += HexDigits[c >> 4];
    out += HexDigits[c & 15];
}

// Undoes \\, \" and \xHH; nothing when an escape is malformed.
std::optional<QByteArray> unescape(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size())
            return std::nullopt;
        const char next = text[++i];
        if (next == '\\' || next == '"') {
            out += next;
        } else if (next == 'x' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

QByteArray escapeKey(const QString& key) {
    const QByteArray bytes = key.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        // Blanks and '=' would end or split the name; '#' and ';' first would make a comment.
        if (c <= ' ' || c == 0x7F || c == '=' || c == '\\' || c == '"' ||
            (i == 0 && (c == '#' || c == ';')))
            appendHexEscape(out, c);
        else
            out += char(c);
    }
    return out;
}

QByteArray escapeText(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    QByteArray out = "\"";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c < ' ' || c == 0x7F) {
            appendHexEscape(out, c);
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

std::optional<uint64_t> parseDecimal(QByteArrayView digits, uint64_t maximum) {
    if (digits.isEmpty() || digits.size() > 20)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const uint64_t d = uint64_t(c - '0');
        if (value > (maximum - d) / 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

// The value of "type:data", or nothing when the data does not read as its type.
std::optional<QVariant> parseValue(QByteArrayView text) {
    const qsizetype colon = text.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    const QByteArrayView type = text.first(colon);
    const QByteArrayView data = text.sliced(colon + 1);
    if (type == "dword") {
        if (auto v = parseDecimal(data, UINT32_MAX))
            return QVariant(int(uint32_t(*v)));
    } else if (type == "qword") {
        if (auto v = parseDecimal(data, UINT64_MAX))
            return QVariant(qlonglong(*v));
    } else if (type == "sz") {
        if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
            const QByteArrayView inner = data.sliced(1, data.size() - 2);
            // A quote inside must be escaped; one that is not means the line is damaged.
            bool bare = false;
            for (qsizetype i = 0; i < inner.size(); ++i) {
                if (inner[i] == '\\')
                    ++i;
                else if (inner[i] == '"')
                    bare = true;
            }
            if (!bare)
                if (auto bytes = unescape(inner))
                    return QVariant(QString::fromUtf8(*bytes));
        }
    } else if (type == "binary") {
        if (data.size() % 2 == 0) {
            QByteArray bytes;
            for (qsizetype i = 0; i < data.size(); i += 2) {
                const int hi = hexValue(data[i]);
                const int lo = hexValue(data[i + 1]);
                if (hi < 0 || lo < 0)
                    return std::nullopt;
                bytes += char(hi * 16 + lo);
            }
            return QVariant(bytes);
        }
    }
    return std::nullopt;
}

void readLine(QByteArrayView line, bool cutShort, QSettings::SettingsMap& map) {
    if (line.endsWith('\r'))
        line.chop(1);
    const QByteArrayView content = line.trimmed();
    if (content.isEmpty() || content.front() == '#' || content.front() == ';')
        return;
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0)
        return; // names no value
    const std::optional<QByteArray> key = unescape(line.first(equals));
    if (!key || key->isEmpty())
        return;
    const QString name = QString::fromUtf8(*key);
    std::optional<QVariant> value;
    // The writer ends every line with a newline: a last line without one was cut short,
    // and its data may be incomplete even where it still parses.
    if (!cutShort)
        value = parseValue(line.sliced(equals + 1));
    map.insert(name, value ? *value : QVariant::fromValue(UnreadableSetting{line.toByteArray()}));
}

// Orders keys for people: letter case aside, and numbers inside them by value (Dir2
// before Dir10).
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const QStringView da = QStringView(a).sliced(i, ei - i);
            const QStringView db = QStringView(b).sliced(j, ej - j);
            // Strip leading zeros only for the comparison of the values.
            auto strip = [](QStringView v) {
                while (v.size() > 1 && v.front() == u'0')
                    v = v.sliced(1);
                return v;
            };
            const QStringView sa = strip(da), sb = strip(db);
            if (sa.size() != sb.size())
                return sa.size() < sb.size();
            if (const int c = sa.compare(sb); c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i].toCaseFolded() != b[j].toCaseFolded())
            return a[i].toCaseFolded() < b[j].toCaseFolded();
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b;
}

} // namespace

bool readTypedSettings(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray all = device.readAll();
    qsizetype start = 0;
    while (start < all.size()) {
        const qsizetype end = all.indexOf('\n', start);
        if (end < 0) {
            readLine(QByteArrayView(all).sliced(start), true, map);
            break;
        }
        readLine(QByteArrayView(all).sliced(start, end - start), false, map);
        start = end + 1;
    }
    return true;
}

bool writeTypedSettings(QIODevice& device, const QSettings::SettingsMap& map) {
    std::vector<QString> keys(map.keyBegin(), map.keyEnd());
    std::sort(keys.begin(), keys.end(), naturalLess);
    QByteArray out = "# Fenwa settings: one value a line, name=type:data\n";
    for (const QString& key : keys) {
        const QVariant value = map.value(key);
        QByteArray data;
        switch (value.typeId()) {
        case QMetaType::Int:
            data = "dword:" + QByteArray::number(uint32_t(value.toInt()));
            break;
        case QMetaType::UInt:
            data = "dword:" + QByteArray::number(value.toUInt());
            break;
        case QMetaType::Bool:
            data = value.toBool() ? "dword:1" : "dword:0";
            break;
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            data = "qword:" + QByteArray::number(value.toULongLong());
            break;
        case QMetaType::QString:
            data = "sz:" + escapeText(value.toString());
            break;
        case QMetaType::QByteArray:
            data = "binary:" + value.toByteArray().toHex().toUpper();
            break;
        default:
            if (value.canConvert<UnreadableSetting>() &&
                value.typeId() == qMetaTypeId<UnreadableSetting>()) {
                out += value.value<UnreadableSetting>().line + '\n';
                continue;
            }
            return false; // a type the file cannot hold: keep the old file
        }
        out += escapeKey(key) + '=' + data + '\n';
    }
    return device.write(out) == out.size();
}

QSettings::Format typedSettingsFormat() {
    static const QSettings::Format format = QSettings::registerFormat(
        QStringLiteral("settings"), readTypedSettings, writeTypedSettings, Qt::CaseSensitive);
    return format;
}

std::unique_ptr<QSettings> openUserSettings(const QString& organisation,
                                            const QString& application) {
#ifdef _WIN32
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organisation,
                                       application);
#else
    return std::make_unique<QSettings>(typedSettingsFormat(), QSettings::UserScope, organisation,
                                       application);
#endif
}

std::unique_ptr<QSettings> openSettingsFile(const QString& path) {
    return std::make_unique<QSettings>(path, typedSettingsFormat());
}

} // namespace fenwa::platform
