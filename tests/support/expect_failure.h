// The check for a Failure a statement must end in: its code, and a text its
// description holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/utf.h"

namespace vi2zezir::test {

// A Failure of that code whose description holds `text` (any, when empty).
inline void ExpectFailureOf(const Failure& f, std::int32_t code, std::u16string_view text) {
    EXPECT_EQ(f.Code(), code);
    EXPECT_NE(f.Description().find(text), std::u16string::npos)
        << text::ToUtf8(f.Description()) << "\n  expected to hold: " << text::ToUtf8(text);
}

} // namespace vi2zezir::test

// The statement must throw a Failure with that code and a description
// holding `text`.
#define EXPECT_FAILURE(statement, code, text)                        \
    do {                                                             \
        try {                                                        \
            statement;                                               \
            ADD_FAILURE() << "no Failure from: " #statement;         \
        } catch (const ::vi2zezir::Failure& failure_) {              \
            ::vi2zezir::test::ExpectFailureOf(failure_, code, text); \
        }                                                            \
    } while (false)
