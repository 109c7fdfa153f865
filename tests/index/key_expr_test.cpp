#include "index/key_expr.h"

#include <gtest/gtest.h>

#include <fstream>

#include "dbf/errors.h"
#include "index/ndx_key.h"
#include "table_fixture_util.h"

namespace qm::index {
namespace {

class KeyExpr : public test::TableFixture {
 protected:
  void SetUp() override {
    Create({{"FIRST", 'C', 20}, {"LAST", 'C', 8}, {"PRICE", 'N', 8, 2}, {"QTY", 'N', 5},
            {"CODE", 'C', 6}, {"SHIPPED", 'D', 8}, {"PAID", 'L', 1}, {"LASTNAME", 'C', 4}});
    Append({"Smith", "Lee", "12.5", "42", "ab12", "20050307", "y", "Ng"});
  }

  // The value, or "!" + the error text when the evaluation failed.
  std::string Eval(const std::string& expression, int keyLength = 0, char* type = nullptr) {
    TbrExprContext context{m_table.get(), nullptr, keyLength, keyLength > 0, nullptr};
    std::string result;
    char resultType = 0;
    bool changed = false;
    try {
      if (!EvaluateExpression(context, "TAG", expression, result, resultType, changed))
        return "!(failed)";
    } catch (const dbf::EEngineIoError& error) {
      return "!" + std::string(error.what());
    }
    if (type) *type = resultType;
    return result;
  }
};

TEST_F(KeyExpr, FieldTermsKeepTheirStoredWidth) {
  char type = 0;
  EXPECT_EQ(Eval("first", 0, &type), "Smith" + std::string(15, ' '));
  EXPECT_EQ(type, 'C');
  EXPECT_EQ(Eval("UPPER(FIRST)"), "SMITH" + std::string(15, ' '));
  EXPECT_EQ(Eval("last name"), "Ng  ");  // a blank inside a name is dropped
  EXPECT_EQ(Eval("PAID+CODE", 0, &type), "Tab12  ");
  EXPECT_EQ(type, 'C');
  EXPECT_EQ(Eval("'x-'+code"), "X-ab12  ");  // the whole expression text is upper-cased
}

TEST_F(KeyExpr, MinusMovesTrailingBlanksOnlyAfterFunctionsAndLiterals) {
  EXPECT_EQ(Eval("UPPER(LAST)-FIRST"), "LEESmith" + std::string(20, ' '));
  EXPECT_EQ(Eval("LAST-FIRST"), "Lee     Smith" + std::string(15, ' '));
  EXPECT_EQ(Eval("'A  '-'B'"), "AB  ");
}

TEST_F(KeyExpr, NumbersFormattedByStrAndStrZero) {
  char type = 0;
  EXPECT_EQ(Eval("PRICE", 0, &type), "   12.50");
  EXPECT_EQ(type, 'N');
  EXPECT_EQ(Eval("STR(PRICE,8,2)"), "   12.50");
  EXPECT_EQ(Eval("STR(PRICE,6)"), " 12.50");  // decimals from the argument text
  EXPECT_EQ(Eval("STRZERO(QTY,5)"), "00042");
  EXPECT_EQ(Eval("STR(QTY)", 7), "     42");  // a tag's key length is the width
  EXPECT_EQ(Eval("STR(CODE,5)"), "!Bramble Error 1006, SubCode 5212  ab12  ");
  EXPECT_EQ(Eval("STR(QTY,40)").substr(0, 1), "!");
}

TEST_F(KeyExpr, FunctionsAreFoundByPositionInTheNameText) {
  EXPECT_EQ(Eval("ST(QTY,3)"), " 42");
  EXPECT_EQ(Eval("SUB(CODE,2)"), "b12  ");
  EXPECT_EQ(Eval("SUBSTR(CODE,0,3)"), "ab12  ");
  EXPECT_EQ(Eval("SUBSTR(CODE,2,2)"), "b1");
  EXPECT_EQ(Eval("S(CODE)"), "!Bramble Error 1006, SubCode 5212  CODE");
  EXPECT_EQ(Eval("NOT(CODE)").substr(0, 1), "!");
  EXPECT_EQ(Eval("RIGHT(LEFT(CODE,4),2)"), "12");
  EXPECT_EQ(Eval("RECNO()"), "1");
  EXPECT_EQ(Eval("DELETED()+.NOT.DELETED()"), "FT");
  EXPECT_EQ(Eval("LOWER(LAST)"), "lee     ");
  EXPECT_EQ(Eval("EMPTY(CODE)"), "F");
  EXPECT_EQ(Eval("SUBSTR(CODE,X)"), "!Bramble Error 1006, SubCode 5212  X");
  EXPECT_EQ(Eval("UPPER(CODE"), "!Bramble Error 1006, SubCode 5212  UPPER");
  EXPECT_EQ(Eval("RIGHT(CODE,9)").substr(0, 1), "!");
}

TEST_F(KeyExpr, DatesForATagAndForText) {
  char type = 0;
  EXPECT_EQ(Eval("SHIPPED", 8, &type), " 2453437");
  EXPECT_EQ(type, 'D');
  EXPECT_EQ(Eval("SHIPPED"), "20050307");
  EXPECT_EQ(Eval("DTOS(SHIPPED)", 8), "20050307");
  EXPECT_EQ(Eval("DTOC(SHIPPED)", 8), "03/07/05");
  EXPECT_EQ(Eval("DTOS(SHIPPED)+CODE", 8, &type), "20050307ab12  ");
  EXPECT_EQ(type, 'C');
  EXPECT_EQ(Eval("DATE()", 0, &type).size(), 8u);
  EXPECT_EQ(type, 'D');
}

TEST_F(KeyExpr, ParenthesesAndEmptyExpressions) {
  EXPECT_EQ(Eval("(LAST+CODE)"), "Lee     ab12  ");
  EXPECT_EQ(Eval("(LAST)+CODE"), "!Bramble Error 1006, SubCode 5212  LAST)");
  EXPECT_EQ(Eval(""), "TAG       ");
  EXPECT_EQ(Eval("NOSUCH"), "!Bramble Error 1006, SubCode 5212  NOSUCH");
  EXPECT_EQ(Eval("'open"), "!Bramble Error 1006, SubCode 5212  'OPEN");
}

TEST(KeyExprNormalise, BlanksDroppedOutsideQuotesExceptAroundComparisons) {
  std::string text = "a  +  b  =  'x  y'  ! c";
  NormalizeExpression(text);
  EXPECT_EQ(text, "a+b = 'x  y' ! c");
}

// Results stop at 255 bytes, the blanks that "-" moves to the end included.
TEST_F(KeyExpr, MinusConcatenationKeepsTheResultCap) {
  std::string blanks(100, ' ');
  EXPECT_EQ(Eval("'" + std::string(150, 'A') + blanks + "'-'" + std::string(5, 'B') + "'").size(), 255u);
  EXPECT_EQ(Eval("'" + std::string(150, 'A') + blanks + "'-'" + std::string(10, 'B') + "'").substr(0, 1), "!");
}

// A number stored wider than its field's decimals allow (other programs write such
// values) keys by its stored value, not as 0.
TEST(KeyExprNumbers, StoredNumberWiderThanItsLayoutKeysByItsValue) {
  test::TempDir dir;
  test::WriteEmptyTable(dir.File("N.DBF"), {{"P", 'N', 5, 2}});
  // The records as another program stored them: the file written directly.
  std::string bytes = test::ReadFile(dir.File("N.DBF"));
  bytes.pop_back();  // end-of-file mark
  for (const char* value : {"123.4", "99.50", "-1.25", "12345"}) bytes += std::string(" ") + value;
  bytes[4] = 4;
  std::ofstream(dir.File("N.DBF"), std::ios::binary) << bytes << '\x1A';
  TbrIndexTable table(dir.File("N.DBF"), dbf::kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.BuildIndex("N", "", "P", "", 1, 0));
  ASSERT_EQ(table.OpenIndexList("N", "N"), 0);
  std::vector<double> keys;
  for (const auto& [key, recNo] : test::WalkTag(*table.CurrentTag())) keys.push_back(DoubleFromOrdered(key));
  EXPECT_EQ(keys, (std::vector<double>{-1.25, 99.5, 123.4, 12345}));
}

}  // namespace
}  // namespace qm::index
