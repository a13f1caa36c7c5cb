// The record a writer of the command language makes of some values: what a
// test expects a driver, or a scripted instrument, to answer.
#pragma once

#include <cstdint>
#include <string>

namespace linkbay {
namespace test {

template <typename Writer, typename... Values>
std::string Record(Writer pfnWrite, Values... values) {
    char sz[128] = {};
    int32_t nLen = 0;
    pfnWrite(static_cast<int32_t>(sizeof sz), sz, nLen, values...);
    return sz;
}

}  // namespace test
}  // namespace linkbay
