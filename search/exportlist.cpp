#include "exportlist.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>

#include "contentcheck.h"

namespace fenwa {

namespace {

// The length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are not one.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not valid.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

void appendEscaped(std::string& out, std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    const auto plain = [](unsigned char c) { return c >= 0x20 && c < 0x7F && c != '\\'; };
    for (size_t i = 0; i < bytes.size();) {
        // Most names are plain ASCII: copied a run at a time.
        size_t run = i;
        while (run < bytes.size() && plain(static_cast<unsigned char>(bytes[run])))
            ++run;
        if (run > i) {
            out.append(bytes.data() + i, run - i);
            i = run;
            if (i == bytes.size())
                break;
        }
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x80) { // the other control characters and DEL
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else if (const size_t n = utf8SequenceLength(bytes, i)) {
            out.append(bytes.substr(i, n));
            i += n;
            continue;
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        ++i;
    }
}

std::string escapeField(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendEscaped(out, bytes);
    return out;
}

std::optional<ExportFormat> exportFormatNamed(std::string_view name) {
    if (name == "tsv")
        return ExportFormat::Tsv;
    if (name == "csv")
        return ExportFormat::Csv;
    if (name == "json")
        return ExportFormat::Json;
    return std::nullopt;
}

std::vector<uint32_t> groupNumbers(const FileRecordStore& rows) {
    std::vector<uint32_t> ids;
    for (size_t row = 0; row < rows.size() && rows.hasGroups(); ++row)
        if (rows.group(row) != 0)
            ids.push_back(rows.group(row));
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    // Numbered as the groups first appear in the list, however it is sorted.
    std::vector<uint32_t> numberOfId(ids.size(), 0);
    std::vector<uint32_t> numbers(rows.size());
    uint32_t next = 0;
    for (size_t row = 0; row < rows.size(); ++row) {
        const uint32_t id = rows.group(row);
        if (id == 0) {
            numbers[row] = ++next;
            continue;
        }
        uint32_t& number =
            numberOfId[size_t(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin())];
        if (number == 0)
            number = ++next;
        numbers[row] = number;
    }
    return numbers;
}

namespace {

std::string csvField(std::string_view text) {
    const std::string escaped = escapeField(text);
    if (escaped.find_first_of(",\"") == std::string::npos)
        return escaped;
    std::string quoted = "\"";
    for (char c : escaped) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string jsonString(std::string_view text) {
    // escapeField leaves no control characters; quotes and backslashes are JSON's own.
    std::string out = "\"";
    for (char c : escapeField(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

const char* const ColumnKeys[ColumnCount] = {"name", "directory", "size", "type", "time"};

} // namespace

namespace {

void appendNumber(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The picture columns after the others: width, height, time taken, likeness. A CSV
// field is left empty, a JSON one null, where there is nothing to say.
void appendPictureFields(std::string& out, const FileRecordStore& rows, size_t row,
                         const PictureFacts& facts, ExportFormat format) {
    const bool json = format == ExportFormat::Json;
    const auto field = [&](const char* key) {
        out += json ? ", \"" : ",";
        if (json) {
            out += key;
            out += "\": ";
        }
    };
    const auto none = [&] {
        if (json)
            out += "null";
    };
    const bool sized = facts.width > 0 && facts.height > 0;
    field("width");
    sized ? appendNumber(out, facts.width) : none();
    field("height");
    sized ? appendNumber(out, facts.height) : none();
    field("taken");
    const std::string taken = isoCaptureTime(facts.taken);
    if (taken.empty())
        none();
    else
        out += json ? jsonString(taken) : csvField(taken);
    field("likeness");
    const uint8_t likeness = rows.likeness(row);
    likeness != FileRecordStore::NoLikeness ? appendNumber(out, likeness) : none();
}

void appendRow(std::string& out, const FileRecordStore& rows, size_t row,
               const std::vector<uint32_t>& groups, ExportFormat format,
               const SelectionColumn* selection, const PictureFacts& facts) {
    const bool selected = selection && row < selection->selected.size() && selection->selected[row];
    switch (format) {
    case ExportFormat::Tsv: {
        if (selection && selection->inTsv)
            out += selected ? "*\t" : "\t";
        // The command line prints a million of these: no temporary texts.
        appendEscaped(out, rows.name(row));
        out += '\t';
        appendEscaped(out, rows.directory(row));
        out += '\t';
        appendNumber(out, rows.fileSize(row));
        out += '\t';
        appendEscaped(out, rows.type(row));
        out += '\t';
        appendEscaped(out, rows.timeText(row));
        out += '\n';
        break;
    }
    case ExportFormat::Csv:
        out += std::to_string(groups[row]);
        for (int c = 0; c < ColumnCount; ++c) {
            out += ',';
            out += csvField(rows.text(row, c));
        }
        if (selection)
            out += selected ? ",yes" : ",no";
        appendPictureFields(out, rows, row, facts, format);
        out += "\r\n";
        break;
    case ExportFormat::Json:
        out += row ? ",\n " : "\n ";
        out += "{\"group\": " + std::to_string(groups[row]);
        for (int c = 0; c < ColumnCount; ++c) {
            out += ", \"";
            out += ColumnKeys[c];
            out += "\": ";
            out += c == ColSize ? rows.sizeText(row) : jsonString(rows.text(row, c));
        }
        if (selection)
            out += selected ? ", \"selected\": true" : ", \"selected\": false";
        appendPictureFields(out, rows, row, facts, format);
        out += "}";
        break;
    }
}

// Picture headers are read for this many picture rows at a time, on a few threads, and
// their rows then written in order.
constexpr size_t FactsBatch = 512;

// Calls sink with the text in pieces, so a million rows never need their whole text at once.
template <typename Sink>
void produce(const FileRecordStore& rows, ExportFormat format, const SelectionColumn* selection,
             const PictureFactsRead& reader, Sink&& sink) {
    const std::vector<uint32_t> groups =
        format == ExportFormat::Tsv ? std::vector<uint32_t>() : groupNumbers(rows);
    std::string piece;
    // Old readers find their columns where they always were: the new ones come last.
    if (format == ExportFormat::Csv)
        piece += selection ? "group,name,directory,size,type,time,selected,"
                           : "group,name,directory,size,type,time,";
    if (format == ExportFormat::Csv)
        piece += "width,height,taken,likeness\r\n";
    if (format == ExportFormat::Json)
        piece += "[";
    // The picture rows of the batch and their facts; a list without pictures reads no
    // header and starts no thread.
    const bool readFacts = format != ExportFormat::Tsv && reader;
    std::vector<uint32_t> pictures;
    std::vector<PictureFacts> facts;
    const PictureFacts nothing;
    size_t next = 0;    // the batch's next picture
    size_t scanned = 0; // rows looked through for pictures
    for (size_t row = 0; row < rows.size(); ++row) {
        if (readFacts && next == pictures.size() && row >= scanned) {
            pictures.clear();
            next = 0;
            for (scanned = row; scanned < rows.size() && pictures.size() < FactsBatch; ++scanned)
                if (IsImageName(rows.name(scanned)))
                    pictures.push_back(uint32_t(scanned));
            facts.assign(pictures.size(), PictureFacts{});
            std::atomic<bool> stop{false};
            RunReaderJobs(
                pictures.size(), std::min<unsigned>(ReaderThreads(0), unsigned(pictures.size())),
                [&](size_t i, unsigned) { facts[i] = reader(rows.fullPath(pictures[i])); }, stop,
                nullptr, {});
        }
        const bool picture = next < pictures.size() && pictures[next] == row;
        appendRow(piece, rows, row, groups, format, selection, picture ? facts[next] : nothing);
        next += picture;
        if (piece.size() >= 1 << 16) {
            sink(piece);
            piece.clear();
        }
    }
    if (format == ExportFormat::Json)
        piece += rows.empty() ? "]\n" : "\n]\n";
    sink(piece);
}

} // namespace

std::string rowsAsText(const FileRecordStore& rows, ExportFormat format,
                       const SelectionColumn* selection, const PictureFactsRead& facts) {
    std::string out;
    produce(rows, format, selection, facts, [&](const std::string& piece) { out += piece; });
    return out;
}

void writeRows(const FileRecordStore& rows, ExportFormat format, std::FILE* out,
               const SelectionColumn* selection, const PictureFactsRead& facts) {
    produce(rows, format, selection, facts,
            [&](const std::string& piece) { std::fwrite(piece.data(), 1, piece.size(), out); });
}

} // namespace fenwa
