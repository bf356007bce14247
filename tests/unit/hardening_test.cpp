// Hostile descriptions: very deep nesting, very long expressions, huge
// attributes and numbers, very many items, long dependency chains. Each must
// end with output or a clear reason, in memory that grows with the size of the
// input and no faster. Also the inputs that fuzzing found. Nothing here
// measures time: the CTest timeout catches a hang, and speed and its growth
// are the benchmark's to measure.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/driver.hpp"
#include "expr/expr.hpp"

namespace qm {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_HARDENING_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QM_HARDENING_SANITIZED 1
#endif

// Instrumented and unoptimised builds are an order of magnitude slower and
// use far more memory; memory is not measured there.
#if defined(QM_HARDENING_SANITIZED) || !defined(NDEBUG)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif
// The largest inputs and the huge attributes shrink in slow builds; what they
// check still shows.
constexpr std::size_t kShrink = kSlowBuild ? 4 : 1;
constexpr std::size_t kHugeBytes = (5u << 20) / kShrink;

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(piece);
  return out;
}

// One C2S message `M` (opcode 1) with the given body.
std::string message_doc(std::string_view body) {
  return "<protocol><messages><c2s><type name=\"M\" type=\"0x1\">" + std::string(body) +
         "</type></c2s></messages></protocol>";
}

// A body that starts with a u32 field K, the usual discriminator and length.
std::string with_k(std::string_view rest) { return "<field type=\"uint\" name=\"K\"/>" + std::string(rest); }

Result<Generated> generate(const std::string& xml) { return generate_from_text(xml, "/hostile/protocol.xml"); }

// Generates `xml` and checks that it ends in output, returning the output text
// (empty when it failed).
std::string generate_output(const std::string& xml, const std::string& what) {
  Result<Generated> result = generate(xml);
  EXPECT_TRUE(result.ok()) << what << ": " << (result.ok() ? "" : result.reason().substr(0, 300));
  return result.ok() ? std::move(result.value().text) : std::string();
}

std::string line_with(const std::string& text, std::string_view needle) {
  const std::size_t at = text.find(needle);
  if (at == std::string::npos) return {};
  const std::size_t begin = text.rfind('\n', at) + 1;
  const std::size_t end = text.find('\n', at);
  return text.substr(begin, std::min<std::size_t>(end - begin, 400));
}

// Peak resident memory, in bytes, that generating `xml` adds to this
// process: measured in a forked child so that nothing else counts. None when
// the child did not end normally with output.
std::optional<long> peak_extra_bytes(const std::string& xml) {
  auto resident = [] {
    long pages = 0;
    long resident_pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld %ld", &pages, &resident_pages) != 2) resident_pages = 0;
      std::fclose(f);
    }
    return resident_pages * sysconf(_SC_PAGESIZE);
  };
  const long before = resident();
  const pid_t child = fork();
  if (child == 0) {
    const auto result = generate_from_text(xml, "/hostile/protocol.xml");
    _exit(result.ok() ? 0 : 3);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return usage.ru_maxrss * 1024 - before;
}

// ---- Deep nesting ----------------------------------------------------------

struct NestingCase {
  const char* what;
  std::function<std::string(std::size_t)> make;  // the document for a depth
  std::size_t depth;
  const char* expected;  // must appear in the output
};

TEST(HostileNesting, EndsWithAReasonWhateverTheDepth) {
  const NestingCase cases[] = {
      {"switch in case in switch",
       [](std::size_t n) {
         return message_doc(with_k(repeat("<switch name=\"K\"><case value=\"1\">", n) +
                                   "<field type=\"uint\" name=\"X\"/>" + repeat("</case></switch>", n)));
       },
       50000, "nested deeper than"},
      {"if inside true branch",
       [](std::size_t n) {
         return message_doc(with_k(repeat("<if test=\"K\"><true>", n) + "<field type=\"uint\" name=\"X\"/>" +
                                   repeat("</true></if>", n)));
       },
       50000, "unsupported child <if>"},
      {"unknown elements in a body",
       [](std::size_t n) { return message_doc(repeat("<deep>", n) + repeat("</deep>", n)); }, 100000,
       "unsupported child `<deep>`"},
      {"elements below a field",
       [](std::size_t n) {
         return message_doc("<field type=\"uint\" name=\"F\">" + repeat("<note>", n) + repeat("</note>", n) +
                            "</field>");
       },
       100000, "nested element <note>"},
      {"elements below a mask",
       [](std::size_t n) {
         return message_doc(with_k("<maskmap name=\"K\"><mask value=\"0x1\">" + repeat("<m>", n) + repeat("</m>", n) +
                                   "</mask></maskmap>"));
       },
       100000, "only <field> allowed inside <mask>"},
      {"elements below a data type",
       [](std::size_t n) {
         return "<protocol><types><type name=\"D\">" + repeat("<x>", n) + repeat("</x>", n) +
                "</type></types></protocol>";
       },
       100000, "// SKIPPED datatype D: unsupported child `<x>`"},
  };
  for (const NestingCase& c : cases) {
    const std::string out = generate_output(c.make(c.depth), c.what);
    EXPECT_NE(out.find(c.expected), std::string::npos) << c.what << "\n" << line_with(out, "SKIPPED");
  }
}

TEST(HostileNesting, DeepElementsOutsideSectionsAreIgnored) {
  for (const char* wrapper : {"enums", "bogus", "value"}) {
    const std::string open = "<" + std::string(wrapper) + ">";
    const std::string close = "</" + std::string(wrapper) + ">";
    const std::string out =
        generate_output("<protocol>" + repeat(open, 100000) + repeat(close, 100000) + "</protocol>", wrapper);
    EXPECT_EQ(out.find("pub struct"), std::string::npos) << wrapper;
    EXPECT_NE(out.find("OPCODE_INDEX"), std::string::npos) << wrapper;
  }
}

TEST(HostileNesting, TheDepthLimitStillAllowsModerateNesting) {
  // Eight levels of switch are fine and produce eight enum types.
  const std::size_t n = 8;
  const std::string out =
      generate_output(message_doc(with_k(repeat("<switch name=\"K\"><case value=\"1\">", n) +
                                         "<field type=\"uint\" name=\"X\"/>" + repeat("</case></switch>", n))),
                      "eight levels");
  EXPECT_EQ(out.find("// SKIPPED messageC2S"), std::string::npos) << line_with(out, "// SKIPPED m");
  std::size_t enums = 0;
  for (std::size_t at = out.find("pub enum "); at != std::string::npos; at = out.find("pub enum ", at + 1)) ++enums;
  EXPECT_EQ(enums, n);
}

// ---- Long expressions ----------------------------------------------------------

struct ExpressionCase {
  const char* what;
  std::string body;
  const char* expected;  // must appear in the output
};

std::string subfield_body(const std::string& value) {
  return "<field type=\"uint\" name=\"K\"><subfield name=\"S\" type=\"uint\" value=\"" + value + "\"/></field>";
}

TEST(HostileExpressions, ThousandsOfParenthesesAndSignsEndInAReasonOrAnExpression) {
  const std::size_t n = 30000;
  const ExpressionCase cases[] = {
      {"subfield parentheses", subfield_body(repeat("(", n) + "K" + repeat(")", n)), "nested deeper than"},
      {"subfield minus signs", subfield_body(repeat("-", n) + "K"), "nested deeper than"},
      {"subfield casts", subfield_body(repeat("(int)", n) + "K"), "nested deeper than"},
      {"subfield unbalanced", subfield_body(repeat("(", n) + "K"), "nested deeper than"},
      {"subfield long sum", subfield_body("K" + repeat(" + 1", n)), "pub fn s(&self) -> u32"},
      {"subfield long mixed chain", subfield_body("K" + repeat(" * 3 &amp; 7 | 1 ^ 2 &lt;&lt; 1", n / 4)),
       "pub fn s(&self) -> u32"},
      {"length parentheses",
       with_k("<vector type=\"byte\" name=\"V\" length=\"" + repeat("(", n) + "K" + repeat(")", n) + "\"/>"),
       "<vector V>: cannot translate length="},
      {"length minus signs", with_k("<vector type=\"byte\" name=\"V\" length=\"K" + repeat(" - 1", n) + "\"/>"),
       "trailing tokens"},
      {"table length", with_k("<table name=\"T\" key=\"uint\" value=\"uint\" length=\"K" + repeat("+1", n) + "\"/>"),
       "SKIPPED messageC2S C2S_M"},
      {"if test parentheses",
       with_k("<if test=\"" + repeat("(", n) + "K" + repeat(")", n) + "\"><true><field type=\"uint\" name=\"X\"/>" +
              "</true></if>"),
       "cannot translate boolean expression"},
      {"if test comparisons",
       with_k("<if test=\"K" + repeat(" == 1", n) + "\"><true><field type=\"uint\" name=\"X\"/></true></if>"),
       "unsupported test shape"},
      {"if test minus signs",
       with_k("<if test=\"K == " + repeat("-", n) + "1\"><true><field type=\"uint\" name=\"X\"/></true></if>"),
       "SKIPPED messageC2S C2S_M"},
  };
  for (const ExpressionCase& c : cases) {
    const std::string out = generate_output(message_doc(c.body), c.what);
    EXPECT_NE(out.find(c.expected), std::string::npos) << c.what << "\n" << line_with(out, "C2S_M");
  }
}

// The extended translator, on its own: nesting ends in the depth reason,
// huge literals in theirs, and long flat texts in an expression.
TEST(HostileExpressions, TheExtendedTranslatorEndsInAReasonOrAnExpression) {
  const std::size_t n = 100000;
  const NameResolver resolve = [](std::string_view name) -> Result<ResolvedName> {
    if (name == "K") return ResolvedName{"k", "u32", {}, {}};
    return fail("no field " + debug_str(name));
  };
  const std::string digits = "1" + std::string(n, '0');
  struct ExtendedCase {
    const char* what;
    std::string text;
    const char* expected;  // the start of the reason, or of the Rust text
  };
  const ExtendedCase cases[] = {
      {"parentheses", repeat("(", n) + "K" + repeat(")", n), "ERR expression nested deeper than"},
      {"unbalanced parentheses", repeat("(", n), "ERR expression nested deeper than"},
      {"minus signs", repeat("- ", n) + "K", "ERR expression nested deeper than"},
      {"negations", repeat("!", n) + "K", "ERR expression nested deeper than"},
      {"casts", repeat("(long)", n) + "K", "ERR expression nested deeper than"},
      {"conditionals", repeat("K ? ", n) + "1", "ERR expression nested deeper than"},
      {"else chain", repeat("K ? 1 : ", n) + "2", "ERR expression nested deeper than"},
      {"integer literal", "K + " + digits, "ERR integer literal"},
      {"hex literal", "K + 0x" + std::string(n, 'F'), "ERR integer literal"},
      {"real literal", "K < " + digits + ".5", "ERR real literal"},
      {"tiny real literal", "K < 0." + std::string(n, '0') + "1", "((k as f64) < 0."},
      {"long sum", "K" + repeat(" + K", n), "(((("},
      {"long test", "K > 1" + repeat(" == true", n), "(((("},
  };
  for (const ExtendedCase& c : cases) {
    const Result<std::string> r = translate_extended_test(c.text, resolve);
    const std::string out = r ? *r : "ERR " + r.reason();
    EXPECT_EQ(out.substr(0, std::string_view(c.expected).size()), c.expected) << c.what;
  }
}

// ---- Huge attributes and numbers ------------------------------------------------

struct AttributeCase {
  const char* what;
  std::string doc;
  const char* expected;
};

TEST(HostileAttributes, MegabyteAttributesPassThroughOnce) {
  const std::string big(kHugeBytes, 'a');
  const std::string big_text = repeat("word \t\n", kHugeBytes / 7);
  const AttributeCase cases[] = {
      {"struct name",
       "<protocol><messages><c2s><type name=\"" + big + "\" type=\"0x1\"><field type=\"uint\" name=\"K\"/></type>" +
           "</c2s></messages></protocol>",
       "pub struct C2S_aaaa"},
      {"field name", message_doc("<field type=\"uint\" name=\"" + big + "\"/>"), "pub aaaa"},
      {"field type", message_doc("<field type=\"" + big + "\" name=\"K\"/>"), "not in foundation tier"},
      {"struct text", message_doc("<field type=\"uint\" name=\"K\" text=\"" + big_text + "\"/>"), "word word word"},
      {"vector length", message_doc(with_k("<vector type=\"byte\" name=\"V\" length=\"" + big + "\"/>")),
       "is not a sibling field"},
      {"switch name", message_doc(with_k("<switch name=\"" + big + "\"><case value=\"1\"/></switch>")),
       "discriminator not found"},
      {"case values", message_doc(with_k("<switch name=\"K\"><case value=\"" + repeat("1|", 200000) + "\"/></switch>")),
       "is duplicated across cases"},
      {"enum name",
       "<protocol><enums><enum name=\"" + big + "\" parent=\"uint\"><value name=\"A\" value=\"1\"/></enum>" +
           "</enums></protocol>",
       "pub enum aaaa"},
  };
  for (const AttributeCase& c : cases) {
    const std::string out = generate_output(c.doc, c.what);
    EXPECT_NE(out.find(c.expected), std::string::npos) << c.what;
    // Whatever is repeated, it is repeated a bounded number of times.
    EXPECT_LT(out.size(), 40 * c.doc.size() + (1 << 20)) << c.what;
  }
}

TEST(HostileAttributes, HundredThousandDigitNumbersAreRejectedQuickly) {
  const std::string digits = "1" + std::string(100000, '0');
  const std::string hex = "0x" + std::string(100000, 'F');
  for (const std::string& number : {digits, hex, "-" + digits}) {
    const AttributeCase cases[] = {
        {"opcode",
         "<protocol><messages><c2s><type name=\"M\" type=\"" + number + "\"><field type=\"uint\" name=\"K\"/>" +
             "</type></c2s></messages></protocol>",
         "pub struct C2S_M"},
        {"enum value",
         "<protocol><enums><enum name=\"E\" parent=\"uint\"><value name=\"A\" value=\"" + number +
             "\"/></enum></enums></protocol>",
         "// SKIPPED enum E: no parseable variants"},
        {"mask value",
         message_doc(with_k("<maskmap name=\"K\"><mask value=\"" + number +
                            "\"><field type=\"uint\" name=\"X\"/></mask></maskmap>")),
         "SKIPPED messageC2S C2S_M"},
        {"case value", message_doc(with_k("<switch name=\"K\"><case value=\"" + number + "\"/></switch>")),
         "is not a parseable integer literal"},
        {"vector skip", message_doc(with_k("<vector type=\"byte\" name=\"V\" length=\"K\" skip=\"" + number + "\"/>")),
         "is not a parseable integer literal"},
        {"maskmap xor",
         message_doc(with_k("<maskmap name=\"K\" xor=\"" + number +
                            "\"><mask value=\"1\"><field type=\"uint\" name=\"X\"/></mask></maskmap>")),
         "is not a parseable integer literal"},
        {"if literal",
         message_doc(
             with_k("<if test=\"K == " + number + "\"><true><field type=\"uint\" name=\"X\"/>" + "</true></if>")),
         "SKIPPED messageC2S C2S_M"},
        {"length literal",
         message_doc(
             with_k("<vector type=\"byte\" name=\"V\" length=\"K + " + number.substr(number[0] == '-') + "\"/>")),
         "C2S_M"},
    };
    for (const AttributeCase& c : cases) {
      const std::string out = generate_output(c.doc, c.what);
      EXPECT_NE(out.find(c.expected), std::string::npos) << c.what << " " << number.substr(0, 3) << "\n"
                                                         << line_with(out, c.expected).substr(0, 200);
      // The opcode is not in u32 range, so no OPCODE constant is written.
      if (std::string_view(c.what) == "opcode") {
        EXPECT_EQ(out.find("const OPCODE:"), std::string::npos);
      }
    }
  }
}

// ---- Many items --------------------------------------------------------------------

TEST(HostileCounts, HundredThousandEnumValues) {
  std::string doc = "<protocol><enums><enum name=\"E\" parent=\"uint\">";
  const std::size_t n = 100000;
  for (std::size_t i = 0; i < n; ++i) {
    // Every tenth value repeats an earlier one and becomes an alias.
    const std::size_t value = i % 10 == 9 ? i - 1 : i;
    doc += "<value name=\"V" + std::to_string(i) + "\" value=\"" + std::to_string(value) + "\"/>";
  }
  doc += "</enum></enums></protocol>";
  const Result<Generated> run = generate(doc);
  ASSERT_TRUE(run.ok());
  EXPECT_NE(run->report.find("emitted 1 enums (10000 aliases)"), std::string::npos) << run->report;
  EXPECT_NE(run->text.find("    V99998 = 0x0001869E,\n"), std::string::npos);
  EXPECT_NE(run->text.find("pub const E_V99999: E = E::V99998;\n"), std::string::npos);
}

TEST(HostileCounts, ManyFieldsThenASwitchWithManyCases) {
  // Every case starts from the fields before the switch; the work must not
  // be fields times cases.
  const std::size_t n = 20000;
  std::string body;
  for (std::size_t i = 0; i < n; ++i) body += "<field type=\"uint\" name=\"F" + std::to_string(i) + "\"/>";
  body += "<switch name=\"F0\">";
  for (std::size_t i = 0; i < n; ++i) {
    body += "<case value=\"" + std::to_string(i) + "\"><field type=\"byte\" name=\"C\"/></case>";
  }
  body += "</switch>";
  const std::string out = generate_output(message_doc(body), "fields and cases");
  EXPECT_NE(out.find("n if n == 19999i128 => {"), std::string::npos);
}

TEST(HostileCounts, ManyRepeatedFieldNamesAreNumbered) {
  const std::size_t n = 50000;
  const std::string out =
      generate_output(message_doc(repeat("<field type=\"uint\" name=\"X\"/>", n)), "repeated names");
  EXPECT_NE(out.find("    pub x_50000: u32,\n"), std::string::npos);
}

TEST(HostileCounts, ManySwitchesOfOneNameAreNumberedInTurn) {
  // The enum types of one struct's switches are numbered 2, 3, ... in order,
  // however many there are.
  const std::size_t n = 6000;
  const std::string out = generate_output(
      message_doc(with_k(repeat("<switch name=\"K\"><case value=\"1\"/></switch>", n))), "switches of one name");
  for (const std::string type : {"C2S_MKData", "C2S_MKData2", "C2S_MKData3", "C2S_MKData4", "C2S_MKData5",
                                 "C2S_MKData9", "C2S_MKData17", "C2S_MKData1000", "C2S_MKData4097", "C2S_MKData6000"}) {
    EXPECT_NE(out.find("pub enum " + type + " {"), std::string::npos) << type;
  }
  EXPECT_EQ(out.find("C2S_MKData6001"), std::string::npos);
  EXPECT_EQ(out.find("C2S_MKData1 "), std::string::npos);
  EXPECT_NE(out.find("    pub k_data_6000: C2S_MKData6000,\n"), std::string::npos);
}

// Each case starts from the fields declared before its switch, and nothing a
// case declares is seen after the switch or by the next case.
TEST(SwitchCaseScopes, CasesStartFromTheStateBeforeTheSwitch) {
  const struct {
    const char* what;
    std::string body;
    std::vector<std::string> expected;  // each must appear in the output
  } cases[] = {
      {"numbering restarts in every case and after the switch",
       "<field type=\"uint\" name=\"X\"/><switch name=\"X\">"
       "<case value=\"1\"><field type=\"uint\" name=\"X\"/><field type=\"uint\" name=\"X\"/></case>"
       "<case value=\"2\"><field type=\"uint\" name=\"X\"/></case></switch><field type=\"uint\" name=\"X\"/>",
       {"    Case_1 {\n        x_2: u32,\n        x_3: u32,\n    },\n", "    Case_2 {\n        x_2: u32,\n    },\n",
        "    pub x_2: u32,\n"}},
      {"a field of a case is not a sibling after the switch",
       with_k("<switch name=\"K\"><case value=\"1\"><field type=\"uint\" name=\"N\"/></case></switch>"
              "<vector type=\"byte\" name=\"V\" length=\"N\"/>"),
       {"// SKIPPED messageC2S C2S_M: <vector V>: cannot translate length=\"N\": identifier \"N\" is not a sibling"}},
      {"a field of one case is not a sibling in the next",
       with_k("<switch name=\"K\"><case value=\"1\"><field type=\"uint\" name=\"N\"/></case>"
              "<case value=\"2\"><vector type=\"byte\" name=\"V\" length=\"N\"/></case></switch>"),
       {"<case value=\"2\">: <vector V>: cannot translate length=\"N\""}},
      {"a case that shadows a field leaves the field as it was",
       "<field type=\"ushort\" name=\"N\"/><switch name=\"N\"><case value=\"1\"><field type=\"byte\" name=\"N\"/>"
       "<vector type=\"byte\" name=\"Inner\" length=\"N\"/></case></switch>"
       "<vector type=\"byte\" name=\"Outer\" length=\"N\"/>",
       {"let inner_count: usize = (n_2) as usize;", "let outer_count: usize = (n) as usize;"}},
      {"nested switches count their members in their own case",
       with_k("<switch name=\"K\"><case value=\"1\"><switch name=\"K\"><case value=\"1\"/></switch>"
              "<switch name=\"K\"><case value=\"2\"/></switch></case></switch>"
              "<switch name=\"K\"><case value=\"3\"/></switch>"),
       {"        k_data: C2S_M_Case_1KData,\n        k_data_2: C2S_M_Case_1KData2,\n",
        "    pub k_data_2: C2S_MKData2,\n"}},
  };
  for (const auto& c : cases) {
    const std::string out = generate_output(message_doc(c.body), c.what);
    for (const std::string& expected : c.expected) {
      EXPECT_NE(out.find(expected), std::string::npos) << c.what << ": " << expected;
    }
  }
}

// ---- Chains -----------------------------------------------------------------------

// `n` data types D0..Dn-1, each holding a field of the next one; the last
// holds a u32. Written in document order, each link needs one more pass.
std::string datatype_chain(std::size_t n, std::size_t fields_per_type) {
  std::string doc = "<protocol><types>";
  for (std::size_t i = 0; i < n; ++i) {
    doc += "<type name=\"D" + std::to_string(i) + "\">";
    for (std::size_t k = 0; k < fields_per_type; ++k)
      doc += "<field type=\"uint\" name=\"P" + std::to_string(k) + "\"/>";
    doc += "<field type=\"" + (i + 1 < n ? "D" + std::to_string(i + 1) : std::string("uint")) + "\" name=\"Next\"/>";
    doc += "</type>";
  }
  doc += "</types><messages><c2s><type name=\"UsesLast\" type=\"0x2\"><field type=\"D" + std::to_string(n - 1) +
         "\" name=\"X\"/></type></c2s></messages></protocol>";
  return doc;
}

TEST(HostileChains, AThousandDataTypesInTheWrongOrder) {
  const std::size_t n = 1000;
  const Result<Generated> run = generate(datatype_chain(n, 1));
  ASSERT_TRUE(run.ok());
  // Five passes write the last five, the leftover step writes the sixth from
  // the end as a normal struct; all others are SKIPPED.
  EXPECT_NE(run->report.find("emitted 0 enums (0 aliases), 6 datatypes (994 skipped), 1 messages (0 skipped)"),
            std::string::npos)
      << run->report;
  const std::string& out = run->text;
  EXPECT_LT(out.find("pub struct D999 "), out.find("pub struct D995 "));
  EXPECT_NE(out.find("pub struct D994 "), std::string::npos);
  EXPECT_NE(out.find("// SKIPPED datatype D993: field Next: type \"D994\""), std::string::npos)
      << line_with(out, "SKIPPED datatype D993");
}

TEST(HostileChains, ALongChainOfWideBodiesEndsWithOutput) {
  // Wide bodies make each failed probe expensive.
  const std::size_t n = 1600 / kShrink;
  const Result<Generated> run = generate(datatype_chain(n, 40));
  ASSERT_TRUE(run.ok()) << run.reason().substr(0, 300);
  EXPECT_NE(run->text.find("pub struct D" + std::to_string(n - 1) + " "), std::string::npos);
}

TEST(HostileChains, AThousandNestedTypedefs) {
  const std::size_t n = 1000;
  for (const bool forward : {true, false}) {
    std::string types;
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = forward ? k : n - 1 - k;
      const std::string parent = i == 0 ? "uint" : "T" + std::to_string(i - 1);
      types += "<type name=\"T" + std::to_string(i) + "\" parent=\"" + parent + "\"/>";
    }
    const std::string doc = "<protocol><types>" + types +
                            "</types><messages><c2s><type name=\"M\" type=\"0x1\"><field type=\"T999\" name=\"X\"/>"
                            "</type></c2s></messages></protocol>";
    const std::string out = generate_output(doc, forward ? "forward typedefs" : "reversed typedefs");
    // Typedefs resolve one link each in document order only.
    if (forward) {
      EXPECT_NE(out.find("    pub x: u32,\n"), std::string::npos);
    } else {
      EXPECT_NE(out.find("// SKIPPED messageC2S C2S_M: field X: type \"T999\" not in foundation tier"),
                std::string::npos)
          << line_with(out, "C2S_M");
    }
  }
}

// ---- Growth and memory ------------------------------------------------------------

struct GrowthCase {
  const char* what;
  std::function<std::string(std::size_t)> make;
  std::size_t n;
};

const GrowthCase kGrowthCases[] = {
    {"fields then switch cases",
     [](std::size_t n) {
       std::string body;
       for (std::size_t i = 0; i < n; ++i) body += "<field type=\"uint\" name=\"F" + std::to_string(i) + "\"/>";
       body += "<switch name=\"F0\">";
       for (std::size_t i = 0; i < n; ++i) body += "<case value=\"" + std::to_string(i) + "\"/>";
       return message_doc(body + "</switch>");
     },
     3000},
    {"nested switches after many fields",
     [](std::size_t n) {
       std::string body;
       for (std::size_t i = 0; i < n; ++i) body += "<field type=\"uint\" name=\"F" + std::to_string(i) + "\"/>";
       return message_doc(body + repeat("<switch name=\"F0\"><case value=\"1\">", 60) +
                          "<field type=\"uint\" name=\"X\"/>" + repeat("</case></switch>", 60));
     },
     3000},
    {"many fields",
     [](std::size_t n) {
       std::string body;
       for (std::size_t i = 0; i < n; ++i) body += "<field type=\"uint\" name=\"F" + std::to_string(i) + "\"/>";
       return message_doc(body);
     },
     10000},
    {"many switches of one name",
     [](std::size_t n) { return message_doc(with_k(repeat("<switch name=\"K\"><case value=\"1\"/></switch>", n))); },
     2000},
    {"messages that fail",
     [](std::size_t n) {
       std::string doc = "<protocol><messages><c2s>";
       for (std::size_t i = 0; i < n; ++i) {
         doc += "<type name=\"M" + std::to_string(i) + "\" type=\"" + std::to_string(i) + "\">" +
                repeat("<field type=\"uint\" name=\"A\"/>", 20) + "<field type=\"Missing\" name=\"B\"/></type>";
       }
       return doc + "</c2s></messages></protocol>";
     },
     2000},
    {"deep switch with long names",
     [](std::size_t n) {
       const std::string name(n, 'k');
       return message_doc("<field type=\"uint\" name=\"" + name + "\"/>" +
                          repeat("<switch name=\"" + name + "\"><case value=\"1\">", 64) +
                          "<field type=\"uint\" name=\"X\"/>" + repeat("</case></switch>", 64));
     },
     20000},
};

TEST(HostileGrowth, LargeInputsEndWithOutput) {
  for (const GrowthCase& c : kGrowthCases) generate_output(c.make(4 * c.n / kShrink), c.what);
}

TEST(HostileGrowth, PeakMemoryStaysProportionalToTheInput) {
  if (kSlowBuild) GTEST_SKIP() << "memory is not representative in instrumented builds";
  const std::string big(5 << 20, 'a');
  const struct {
    const char* what;
    std::string doc;
  } cases[] = {
      {"5 MB field name", message_doc("<field type=\"uint\" name=\"" + big + "\"/>")},
      {"5 MB of parentheses as a length",
       message_doc(with_k("<vector type=\"byte\" name=\"V\" length=\"" + repeat("(", 5 << 20) + "\"/>"))},
      {"5 MB of parentheses in a subfield", message_doc(subfield_body(repeat("(", 5 << 20)))},
      {"5 MB if test", message_doc(with_k("<if test=\"" + repeat("K ", 5 << 19) + "\"><true>" +
                                          "<field type=\"uint\" name=\"X\"/></true></if>"))},
      {"deep nesting", message_doc(with_k(repeat("<switch name=\"K\"><case value=\"1\">", 100000) +
                                          repeat("</case></switch>", 100000)))},
  };
  // An expression is held as a list of tokens of about 50 bytes each, one
  // per input byte at worst, so a hundred times the input is the ceiling.
  for (const auto& c : cases) {
    const std::optional<long> extra = peak_extra_bytes(c.doc);
    ASSERT_TRUE(extra.has_value()) << c.what << ": the generation failed in the child";
    EXPECT_LT(*extra, 100L * static_cast<long>(c.doc.size()) + (64L << 20))
        << c.what << ": " << (*extra >> 20) << " MB for " << (c.doc.size() >> 20) << " MB";
  }
}

}  // namespace
}  // namespace qm
