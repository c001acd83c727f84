// Paths pass through the access layer as wide strings and must come back as the very
// bytes they were, whatever those are.
#include <gtest/gtest.h>

#include <string>

#include "property_access.h"

namespace docprops {
namespace {

TEST(WidePath, EveryByteStringComesBackUnchanged) {
  std::string everyByte;
  for (int b = 1; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  for (const std::string& path :
       {everyByte, std::string("caf\xC3\xA9/\xF0\x9F\x98\x80.xls"), std::string("caf\xE9.xls"),
        std::string("\xED\xA0\x80\xED\xB0\x80"),  // surrogates encoded: not UTF-8
        std::string("\xC0\xAF\xE0\x80\xAF\xF4\x90\x80\x80\xF0\x9F\x98")}) {
    EXPECT_EQ(PathFromWide(WidePath(path)), path);
  }
  EXPECT_EQ(WidePath("caf\xC3\xA9"), u"caf\u00E9");        // UTF-8 is decoded
  EXPECT_EQ(WidePath("caf\xE9"), u"caf\xDCE9");            // a stray byte is kept apart
  EXPECT_EQ(WidePath("\xF0\x9F\x98\x80"), u"\U0001F600");  // as a surrogate pair
}

}  // namespace
}  // namespace docprops
