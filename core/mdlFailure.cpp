// SPDX-License-Identifier: MIT
#include "mdlFailure.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace metronel {

std::string WaveOutResult::OneLine() const {
    if (!reason.empty())
        return reason;
    if (systemError != 0) {
        // Two programs locking one file is the case a user can act on: say it plainly.
        const std::string why =
            systemError == EWOULDBLOCK
                ? std::string("in use by another program")
                : std::error_code(systemError, std::generic_category()).message();
        switch (outcome) {
        case Outcome::OpenFailed:
            return "cannot open: " + why;
        case Outcome::ReadFailed:
            return "cannot read: " + why;
        default:
            return "cannot be written: " + why;
        }
    }
    std::string line;
    for (char c : errorText) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    return line;
}

WaveOutResult WaveOutFailure(chunkwell::MediaFileErrorCodes code) {
    WaveOutResult result;
    switch (code) {
    case chunkwell::mfec_OpenFileFailed:
        result.outcome = WaveOutResult::Outcome::OpenFailed;
        break;
    case chunkwell::mfec_ReadDataFailed:
        result.outcome = WaveOutResult::Outcome::ReadFailed;
        break;
    case chunkwell::mfec_CreateFileFailed:
        result.outcome = WaveOutResult::Outcome::CreateFailed;
        break;
    default:
        result.outcome = WaveOutResult::Outcome::WriteFailed;
        break;
    }
    result.errorCode = code;
    result.errorText = chunkwell::ErrorText(code);
    return result;
}

WaveOutResult SystemFailure(chunkwell::MediaFileErrorCodes code, int systemError) {
    WaveOutResult result = WaveOutFailure(code);
    result.systemError = systemError;
    return result;
}

WaveOutResult Refusal(std::string reason) {
    WaveOutResult result;
    result.outcome = WaveOutResult::Outcome::Refused;
    result.reason = std::move(reason);
    return result;
}

} // namespace metronel
