// SPDX-License-Identifier: MIT
#include "cli/AccountFormat.h"
#include "cli/CsvReader.h"
#include "cli/CsvWriter.h"
#include "store/Field.h"

#include <gtest/gtest.h>

#include <sstream>

using cli::CsvReader;
using cli::CsvRecord;
using cli::CsvSyntaxError;
using cli::CsvWriter;
using Fields = std::vector<std::optional<std::string>>;

namespace {

std::vector<CsvRecord> readAll(const std::string& text) {
    std::istringstream input(text);
    std::vector<CsvRecord> records;
    CsvReader(input).read([&](const CsvRecord& record) { records.push_back(record); });
    return records;
}

std::size_t syntaxErrorLine(const std::string& text) {
    try {
        readAll(text);
    } catch (const CsvSyntaxError& error) {
        return error.line();
    }
    ADD_FAILURE() << "accepted: " << text;
    return 0;
}

TEST(CsvTest, WrittenFieldsReadBackExactly) {
    const Fields fields = {std::string("plain"),
                           std::string("a,comma"),
                           std::string("say \"hi\""),
                           std::string("two\r\nlines"),
                           std::string("lf\nonly"),
                           std::string(" padded "),
                           std::string(),
                           std::nullopt,
                           std::string("Zürich 東京 ;%_'"),
                           std::string("\"")};
    std::ostringstream output;
    CsvWriter writer(output);
    for (int record = 0; record < 2; ++record) {
        for (const auto& field : fields) {
            if (field)
                writer.field(*field);
            else
                writer.nullField();
        }
        writer.endRecord();
    }
    const auto records = readAll(output.str());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fields, fields);
    EXPECT_EQ(records[1].fields, fields);
    EXPECT_EQ(records[0].line, 1u);
    EXPECT_EQ(records[1].line, 4u) << "the first record holds two line breaks";
}

TEST(CsvTest, NullIsEmptyUnquotedAndEmptyTextIsTwoQuotes) {
    const auto records = readAll("a,,\"\",b\n,\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fields, (Fields{"a", std::nullopt, std::string(), "b"}));
    EXPECT_EQ(records[1].fields, (Fields{std::nullopt, std::nullopt}));
}

TEST(CsvTest, LinesCountRecordStartsAcrossQuotedBreaksBlankLinesAndCrLf) {
    const auto records = readAll("\xEF\xBB\xBFh1,h2\r\n\"x\r\ny\",1\r\n\r\nz,\"p\nq\nr\"\r\nlast,2");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].fields[0], "h1") << "the byte order mark is dropped";
    EXPECT_EQ(records[1].line, 2u);
    EXPECT_EQ(records[2].line, 5u);
    EXPECT_EQ(records[3].line, 8u);
    EXPECT_EQ(records[3].fields, (Fields{"last", "2"})) << "a final record without a line break";
}

TEST(CsvTest, MalformedQuotingIsRefusedWithItsLine) {
    EXPECT_EQ(syntaxErrorLine("a,b\nc,d\"e\n"), 2u);
    EXPECT_EQ(syntaxErrorLine("a,b\n\"c\"d,e\n"), 2u);
    EXPECT_EQ(syntaxErrorLine("a,b\nc,\"never closed\nmore\n"), 3u);
}

TEST(CsvTest, LongInputAcrossReadBuffers) {
    std::string text;
    const std::string longField(100000, 'x');
    for (int i = 0; i < 3; ++i)
        text += "\"" + longField + "\n" + longField + "\"," + std::to_string(i) + "\r\n";
    const auto records = readAll(text);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].line, 5u);
    EXPECT_EQ(records[2].fields[0], longField + "\n" + longField);
    EXPECT_EQ(records[2].fields[1], "2");
}

} // namespace

namespace {

TEST(CsvTest, TextThatIsNotStrictUtf8IsRefusedAsTheStoreRefusesIt) {
    const dao::Field name("Name", dao::FieldType::Text, 50);
    // A surrogate, an overlong "/", a code point past U+10FFFF, a cut sequence; then valid text.
    const char* const refused[] = {"\xED\xA0\x80", "a\xC0\xAF", "\xF4\x90\x80\x80", "\xE6\x9D"};
    for (const char* text : refused) {
        dao::Variant value;
        EXPECT_NE(cli::AccountFormat::parse(name, std::string(text), value).find("UTF-8"), std::string::npos)
            << text;
    }
    dao::Variant value;
    EXPECT_EQ(cli::AccountFormat::parse(name, std::string("Zo\xC3\xAB \xF0\x9F\x94\x91"), value), "");
    EXPECT_EQ(value, dao::Variant(std::string("Zo\xC3\xAB \xF0\x9F\x94\x91")));
}

} // namespace
