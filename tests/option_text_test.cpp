// option_text_test.cpp - the quoting rules of a buddy's option text, word
// for word and byte for byte, and the three error messages.
#include "buddy/option_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zibbet {
namespace {

using words = std::vector<std::string>;

// A fixture that names the program, as the command line would.
class OptionText : public testing::Test {
 protected:
  // split - the words of `text`, or nothing on malformed quoting.
  std::optional<arg_vector> split(std::string_view text) {
    return split_option_text(text, prog_name_);
  }
  std::string prog_name_ = "zibbet";
};

TEST_F(OptionText, SplitsIntoWords) {
  struct {
    std::string text;
    words expected;  // after element 0
  } cases[] = {
      // nothing but separators
      {"", {}},
      {" \t\n", {}},
      // separators never make empty words
      {"a  b\t\tc\n", {"a", "b", "c"}},
      // the worked examples
      {"-w -m \"hi %b\"", {"-w", "-m", "hi %b"}},
      {"-m 'it\\'s'", {"-m", "it's"}},
      {"a\\ b", {"a\\ b"}},
      // a trailing newline only ends the last word
      {"-m \"hi %b\"\n", {"-m", "hi %b"}},
      {"-m hello", {"-m", "hello"}},
      // a backslash keeps itself and shields the newline after it
      {"x\\\n", {"x\\\n"}},
      // a carriage return is word text
      {"-w\r\n", {"-w\r"}},
      {"a\rb", {"a\rb"}},
      // vertical tab, form feed and high bytes are word text too
      {"a\vb\fc\xe9", {"a\vb\fc\xe9"}},
      // quotes join their neighbours into one word
      {"ab\"c d\"e", {"abc de"}},
      {"--message=\"hi there\"", {"--message=hi there"}},
      {"'a'\"b\"c", {"abc"}},
      // empty stretches make empty words
      {"\"\"", {""}},
      {"''", {""}},
      {"a \"\"", {"a", ""}},
      {"\"\"x", {"x"}},
      // the other quote, separators and newlines are plain inside a stretch
      {"'a\"b'", {"a\"b"}},
      {"\"it's\"", {"it's"}},
      {"\"a\tb\nc\"", {"a\tb\nc"}},
      // inside a stretch only a backslash before its own quote is dropped
      {"\"a\\b\"", {"a\\b"}},
      {"\"\\'\"", {"\\'"}},
      {"'\\''", {"'"}},
      {"\"a\\\"b\"", {"a\"b"}},
      {"\"\\n\"", {"\\n"}},
      {"\\n", {"\\n"}},
      // the closing test looks at the text: the quote after "\\" stays open
      {"\"a\\\\\" b\"", {"a\\\" b"}},
      // outside quotes a backslash opens no stretch and stays
      {"\\\"a b\\\"", {"\\\"a", "b\\\""}},
      {"\\'x", {"\\'x"}},
      // a NUL ends the text
      {std::string("-w\0 -v", 6), {"-w"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::optional<arg_vector> split_words = split(c.text);
    ASSERT_TRUE(split_words.has_value());
    arg_vector& out = *split_words;
    int count = out.argc();
    ASSERT_EQ(count, static_cast<int>(c.expected.size()) + 1);
    ASSERT_EQ(out.argc(), count);
    EXPECT_EQ(out.words()[0], "zibbet");
    EXPECT_EQ(words(out.words().begin() + 1, out.words().end()), c.expected);
    EXPECT_EQ(out.argv()[count], nullptr);
    for (int k = 0; k < count; ++k)
      EXPECT_EQ(std::string(out.argv()[k]), out.words()[static_cast<std::size_t>(k)]);
  }
}

TEST_F(OptionText, ElementZeroIsACopyOfTheProgramName) {
  prog_name_ = "watcher";
  std::optional<arg_vector> out = split("-w");
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->argc(), 2);
  EXPECT_EQ(out->words()[0], "watcher");
}

TEST_F(OptionText, MalformedQuotingWritesOneMessageAndGivesNoWords) {
  struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"\"unterminated", "error: unterminated \"\n"},
      {"-m \"hi\n", "error: unterminated \"\n"},
      {"'abc", "error: unterminated '\n"},
      {"'it\\'", "error: unterminated '\n"},
      {"\"a\\\\\"", "error: unterminated \"\n"},  // no stretch ends in a backslash
      {"\"\\\"", "error: unterminated \"\n"},
      {"x\\", "syntax err: unterminated \\\n"},
      {"\\", "syntax err: unterminated \\\n"},
      {"a b \\", "syntax err: unterminated \\\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    testing::internal::CaptureStderr();
    std::optional<arg_vector> out = split(c.text);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(out.has_value());
    EXPECT_EQ(err, c.message);
  }
}

TEST_F(OptionText, LongTextsSplitWhole) {
  // A text far beyond any pipe's buffer: 200,000 bytes in words of 1,000.
  std::string word(999, 'x');
  std::string text;
  for (int k = 0; k < 200; ++k) text += (k % 2 == 0 ? word : "\"" + word + "\"") + " ";
  std::optional<arg_vector> out = split(text);
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->argc(), 201);
  for (std::size_t k = 1; k < 201; ++k) EXPECT_EQ(out->words()[k], word);
}

}  // namespace
}  // namespace zibbet
