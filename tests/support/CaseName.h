#pragma once
// Named cases of table-driven tests: a case struct derives from NamedCase,
// gtest prints it by its name and names its instantiation after it:
//
//   struct SizeCase : ksn::test::NamedCase { int width; };
//   INSTANTIATE_TEST_SUITE_P(Screen, Sizes, ::testing::Values(SizeCase{{"Small"}, 800}),
//                            ksn::test::CaseName<SizeCase>);

#include <gtest/gtest.h>

#include <concepts>
#include <ostream>
#include <string>

namespace ksn::test {

struct NamedCase {
    const char* name = "";
};

// Found through the case's base class; preferred to gtest's own printer.
template <class Case>
requires std::derived_from<Case, NamedCase>
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

}  // namespace ksn::test
