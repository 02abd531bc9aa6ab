#pragma once
// The language of the texts Fenwa adds to its windows' messages, questions and notes:
// the one the user chose for the window, English until a window chooses (so the command
// line speaks English). Each such text is written whole in both languages and shown in
// one of them; the texts the program has always had keep their own wording.

#include <atomic>

namespace fenwa {

namespace detail {
inline std::atomic<bool> chineseTexts{false};
}

inline void setChineseTexts(bool chinese) {
    detail::chineseTexts.store(chinese, std::memory_order_relaxed);
}
inline bool chineseTexts() {
    return detail::chineseTexts.load(std::memory_order_relaxed);
}

// The text in the chosen language.
inline const char* say(const char* english, const char* chinese) {
    return chineseTexts() ? chinese : english;
}

} // namespace fenwa
