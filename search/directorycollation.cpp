#include "directorycollation.h"

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <optional>
#include <unordered_map>

namespace fenwa {

namespace {

// The collator of the user's locale, made once per thread and again only when the
// locale changes: a walk sorts the siblings of every directory it meets.
const QCollator& directoryCollator() {
    thread_local std::optional<QCollator> collator;
    thread_local QLocale locale;
    const QLocale current;
    if (!collator || current != locale) {
        locale = current;
        collator.emplace(current);
        collator->setCaseSensitivity(Qt::CaseInsensitive);
    }
    return *collator;
}

} // namespace

void CollateDirectoryNames(std::vector<std::string>& texts) {
    // compare() rather than sort keys: in the C locale Qt's sort keys ignore the case
    // setting.
    const QCollator& collator = directoryCollator();
    struct Named {
        QString display;
        std::string text;
    };
    std::vector<Named> named;
    named.reserve(texts.size());
    for (std::string& t : texts)
        named.push_back({QFile::decodeName(QByteArray::fromStdString(t)), std::move(t)});
    std::sort(named.begin(), named.end(), [&collator](const Named& a, const Named& b) {
        int c = collator.compare(a.display, b.display);
        return c != 0 ? c < 0 : a.text < b.text;
    });
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = std::move(named[i].text);
}

} // namespace fenwa

extern "C" __attribute__((visibility("default"))) void
fenwa_collate_directory_names(const char* const* texts, const size_t* lengths, size_t count,
                              size_t* order) {
    std::vector<std::string> sorted;
    sorted.reserve(count);
    for (size_t i = 0; i < count; ++i)
        sorted.emplace_back(texts[i], lengths[i]);
    // Where each text was: equal texts are alike, so any of their places will do.
    std::unordered_map<std::string, std::vector<size_t>> places;
    for (size_t i = count; i-- > 0;)
        places[sorted[i]].push_back(i);
    fenwa::CollateDirectoryNames(sorted);
    for (size_t i = 0; i < count; ++i) {
        std::vector<size_t>& at = places[sorted[i]];
        order[i] = at.back();
        at.pop_back();
    }
}
