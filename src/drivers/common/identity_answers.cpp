#include "drivers/common/identity_answers.h"

#include <cstdio>

#include "cmdlang/records.h"

namespace linkbay {

bool AnswerConfiguration(Answer& answer, uint32_t nChannelsInUse) {
    char szText[128];
    std::snprintf(szText, sizeof szText, "0409600001%5.5u%s%s", nChannelsInUse & 0xFFFFu,
                  "0000000000000000000000000000000000000000", "00000000000000000000000000000000000");
    return Written(FormatJ(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool AnswerConfigurationMask(Answer& answer) {
    return Written(FormatListUU(answer.nSize, answer.pszBuf, *answer.pnLen, "CONF_MASK", 2147483647u, 2147483648u),
                   answer);
}

bool AnswerUart(Answer& answer, uint32_t nBaudRate) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%6.6dN81", static_cast<int32_t>(nBaudRate));
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

}  // namespace linkbay
