#pragma once
// Shared by the fuzzers: the input bytes as tool output would reach the application
// (nullopt when not UTF-8, as the tool runner decodes it), and a Qt Core instance.

#include "bridge/ToolRunner.h"

#include <QByteArray>
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace fuzzing {

inline QByteArray bytes(const uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

inline ToolResult toolOutput(const uint8_t* data, std::size_t size) {
    return toolrunner::decodeOutput(bytes(data, size));
}

// A fuzzer's own check of a property; a failure is a finding, like a crash.
inline void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace fuzzing
