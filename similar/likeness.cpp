#include "likeness.h"

namespace fenwa::similar {

std::string MakeLikenessPrint(const uint8_t*, int width, int height, int, int, ColourSpace) {
    if (width <= 0 || height <= 0)
        return {};
    return std::string(1, '\0');
}

bool ValidLikenessPrint(const std::string& print) {
    return !print.empty();
}

bool VerifyLikeness(const std::string& leaderPrint, uint64_t, const std::string& memberPrint,
                    uint64_t, SimilarLevel) {
    return ValidLikenessPrint(leaderPrint) && ValidLikenessPrint(memberPrint);
}

} // namespace fenwa::similar
