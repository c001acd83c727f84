// The heading-group listing over in-memory values: which groups are listed, how the
// running part index moves, and the exact bytes of the report and the echo.
#include "heading_groups.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "standard_output.h"

namespace docprops {
namespace {

// "H" and the number, built by appending: `"H" + std::to_string(n)` makes GCC 12 at -O2
// and above report a -Wrestrict overlap inside std::string's operator+ that cannot happen
// (GCC bug 105329).
template <typename Number>
std::string HeadingName(Number n) {
  std::string name = "H";
  name += std::to_string(n);
  return name;
}

// Owns the values handed to the listing.
struct Outline {
  std::vector<PROPVARIANT> pairs;
  std::vector<std::string> headingTexts;  // kept alive for pszVal
  std::vector<std::string> names;
  std::vector<char*> namePointers;
  std::u16string wide;

  void Heading(const std::string& text) {
    headingTexts.push_back(text);
    PROPVARIANT v = {};
    v.vt = VT_LPSTR;
    pairs.push_back(v);
  }
  void Count(std::int32_t count, VARTYPE vt = VT_I4) {
    PROPVARIANT v = {};
    v.vt = vt;
    v.lVal = count;
    pairs.push_back(v);
  }
  void Group(const std::string& heading, std::int32_t count) {
    Heading(heading);
    Count(count);
  }
  void Raw(const PROPVARIANT& v) { pairs.push_back(v); }

  // Runs the listing; returns the report and collects the echo in `echo`.
  std::string List(std::string* echo = nullptr) {
    std::size_t t = 0;
    for (PROPVARIANT& v : pairs) {
      if (v.vt == VT_LPSTR && v.pszVal == nullptr && t < headingTexts.size()) v.pszVal = headingTexts[t++].data();
    }
    namePointers.clear();
    for (std::string& n : names) namePointers.push_back(n.data());
    PROPVARIANT hp = {};
    hp.vt = VT_VECTOR | VT_VARIANT;
    hp.capropvar.cElems = static_cast<ULONG>(pairs.size());
    hp.capropvar.pElems = pairs.data();
    PROPVARIANT dp = {};
    dp.vt = VT_VECTOR | VT_LPSTR;
    dp.calpstr.cElems = static_cast<ULONG>(namePointers.size());
    dp.calpstr.pElems = namePointers.data();
    std::string captured;
    console::CaptureForTesting(&captured);
    ReportText.clear();
    ListHeadingGroups(hp, dp);
    console::Flush();
    console::CaptureForTesting(nullptr);
    if (echo != nullptr) *echo = captured;
    return ReportText;
  }
};

TEST(HeadingGroups, WorkedExampleSkipsTheMiddleGroupButCountsItsParts) {
  Outline o;
  o.Group("P", 2);
  o.Group("Q", 1);
  o.Group("R", 1);
  o.Group("S", 2);
  o.names = {"p1", "p2", "q1", "r1", "s1", "s2"};
  std::string echo;
  EXPECT_EQ(o.List(&echo), "P\r\n\tp1\r\n\tp2\r\nR\r\n\tr1\r\nS\r\n\ts1\r\n\ts2\r\n");
  EXPECT_EQ(echo, "p1\r\np2\r\nr1\r\ns1\r\ns2\r\n");  // LF reaches the output as CR LF
}

TEST(HeadingGroups, ZeroCountGroupGivesItsHeadingAlone) {
  Outline o;
  o.Group("P", 1);
  o.Group("Q", 0);
  o.Group("R", 2);
  o.names = {"x", "y", "z"};
  EXPECT_EQ(o.List(), "P\r\n\tx\r\nQ\r\nR\r\n\ty\r\n\tz\r\n");
}

TEST(HeadingGroups, ListedGroupsByElementCount) {
  // n = 2g elements; each group k has one part named "k".
  const std::vector<std::pair<int, std::string>> cases = {{0, ""},    {1, "1"},   {2, "12"},      {3, "123"},
                                                          {4, "134"}, {5, "145"}, {40, "1 39 40"}};
  for (const auto& [groups, expected] : cases) {
    Outline o;
    for (int k = 1; k <= groups; ++k) {
      o.Group(HeadingName(k), 1);
      o.names.push_back(std::to_string(k));
    }
    std::string echo;
    o.List(&echo);
    std::string listed;
    for (std::size_t at = 0; at < echo.size();) {
      const std::size_t end = echo.find("\r\n", at);
      if (!listed.empty() && groups >= 10) listed += ' ';
      listed += echo.substr(at, end - at);
      at = end + 2;
    }
    EXPECT_EQ(listed, expected) << groups << " groups";
  }
}

TEST(HeadingGroups, EmptyStringsAndRawBytesPassUnchanged) {
  Outline o;
  o.Group("", 3);
  o.names = {"", "caf\xE9\xFF", "two\nlines"};
  std::string echo;
  EXPECT_EQ(o.List(&echo), "\r\n\t\r\n\tcaf\xE9\xFF\r\n\ttwo\nlines\r\n");
  EXPECT_EQ(echo, "\r\ncaf\xE9\xFF\r\ntwo\r\nlines\r\n");
}

TEST(HeadingGroups, IndexesOutsideThePartsListNothingForThatPart) {
  Outline o;
  o.Group("A", 3);  // only two names exist
  o.names = {"a", "b"};
  EXPECT_EQ(o.List(), "A\r\n\ta\r\n\tb\r\n");

  Outline back;  // a negative count in a skipped group moves the index before the vector
  back.Group("A", 1);
  back.Group("B", -3);
  back.Group("C", 0);
  back.Group("D", 4);
  back.Group("E", 1);
  back.names = {"a", "b", "c"};
  // After A the index is 1; B moves it to -2; D lists indexes -2..1: a, b.
  EXPECT_EQ(back.List(), "A\r\n\ta\r\nD\r\n\ta\r\n\tb\r\nE\r\n\tc\r\n");
}

TEST(HeadingGroups, HugeCountsCostWhatTheNamesCost) {
  Outline o;
  o.Group("A", INT_MAX);
  o.Group("B", INT_MIN);
  o.Group("C", INT_MAX);
  o.names = {"x", "y", "z"};
  // A lists all three, then the index runs to INT_MAX without listing; B (listed, count
  // below zero) lists nothing; C starts past the end and lists nothing.
  EXPECT_EQ(o.List(), "A\r\n\tx\r\n\ty\r\n\tz\r\nB\r\nC\r\n");

  Outline wrap;  // a skipped group wraps the index all the way round to 0
  wrap.Group("A", 0);
  wrap.Group("B", INT_MAX);
  wrap.Group("C", INT_MAX);
  wrap.Group("D", 2);
  wrap.Group("E", 1);
  wrap.Group("F", 1);
  wrap.names = {"x", "y"};
  // B and C are skipped: 0 + 2*INT_MAX wraps to -2; D then lists -2, -1: nothing.
  // E lists index 0 and F index 1.
  EXPECT_EQ(wrap.List(), "A\r\nE\r\n\tx\r\nF\r\n\ty\r\n");
}

TEST(HeadingGroups, OddElementCountAndOtherElementTypes) {
  Outline odd;  // n = 3: the second heading has no count and is never listed
  odd.Group("A", 1);
  odd.Heading("B");
  odd.names = {"a"};
  EXPECT_EQ(odd.List(), "A\r\n\ta\r\n");

  Outline one;  // n = 1: a heading without its count lists nothing under it
  one.Heading("Alone");
  one.names = {"a"};
  EXPECT_EQ(one.List(), "Alone\r\n");

  Outline typed;
  PROPVARIANT number = {};
  number.vt = VT_R8;
  number.dblVal = 2.0;
  typed.Raw(number);  // a heading that is not a string is empty
  typed.Count(0xFFFF, VT_UI2);
  std::u16string wide = u"Gr\u00FC\u00DFe";
  PROPVARIANT w = {};
  w.vt = VT_LPWSTR;
  w.pwszVal = wide.data();
  typed.Raw(w);  // a wide heading becomes UTF-8
  typed.Count(-1, VT_I2);
  PROPVARIANT i1 = {};
  i1.vt = VT_I1;
  i1.bVal = 0xFF;  // -1: sign-extended
  typed.Heading("Third");
  typed.Raw(i1);
  typed.Group("Fourth", 1);
  typed.names = {"n1", "n2"};
  // Groups 1, 3, 4 of 4 are listed; group 1 counts 65535 (two names exist); group 2 is
  // skipped with -1, so the index goes from 65535 to 65534: nothing more to list.
  EXPECT_EQ(typed.List(), "\r\n\tn1\r\n\tn2\r\nThird\r\nFourth\r\n");

  Outline misc;
  PROPVARIANT real = {};
  real.vt = VT_R4;
  real.ulVal = 5;
  misc.Heading("A");
  misc.Raw(real);  // a count of another type is 0
  PROPVARIANT nullHeading = {};
  nullHeading.vt = VT_LPSTR;
  misc.Raw(nullHeading);
  misc.Count(1);
  misc.names = {"z"};
  misc.headingTexts.push_back("");  // the second heading keeps its null pointer below
  misc.pairs[2].pszVal = nullptr;
  EXPECT_EQ(misc.List(), "A\r\n\r\n\tz\r\n");
}

// A model of the listing rule, written as plainly as possible, compared with the
// listing for every element count up to 12 and every count in -1..3.
std::string Model(const std::vector<int>& counts, std::size_t elements, const std::vector<std::string>& names) {
  std::string out;
  long long index = 0;
  for (std::size_t pos = 0; pos < elements; pos += 2) {
    const std::size_t g = pos / 2;
    const int count = pos + 1 < elements ? counts[g] : 0;
    const bool listed = pos == 0 || (elements >= 4 && pos == elements - 4) || (elements >= 2 && pos == elements - 2);
    if (!listed) {
      index += count;
      continue;
    }
    out += HeadingName(g) + "\r\n";
    for (int i = 0; i < count; ++i, ++index) {
      if (index >= 0 && index < static_cast<long long>(names.size()))
        out += "\t" + names[static_cast<std::size_t>(index)] + "\r\n";
    }
  }
  return out;
}

TEST(HeadingGroups, AgreesWithAPlainModelOnEverySmallInput) {
  const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
  int checked = 0;
  for (std::size_t elements = 0; elements <= 12; ++elements) {
    const std::size_t groups = (elements + 1) / 2;
    std::vector<int> counts(groups, -1);
    for (;;) {
      Outline o;
      for (std::size_t g = 0; g < groups; ++g) {
        o.Heading(HeadingName(g));
        if (2 * g + 1 < elements) o.Count(counts[g]);
      }
      o.names = names;
      ASSERT_EQ(o.List(), Model(counts, elements, names)) << "elements " << elements;
      ++checked;
      std::size_t g = 0;
      while (g < groups && ++counts[g] > 3) counts[g++] = -1;
      if (g == groups) break;
    }
  }
  EXPECT_GT(checked, 15000);
}

}  // namespace
}  // namespace docprops
