// The scene reader: the language's syntax as far as shader instances go,
// one row per form, each read from files held in memory. A row gives what
// the reader must find (each strataMix instance with what it sets and
// connects) and every diagnostic, as the tools print them. Each row is read
// three times, the files handed over whole, a byte at a time and seven bytes
// at a time, so that every token is also cut across the reader's chunks.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scene_reader.h"
#include "scene_rules.h"
#include "scene_writer.h"

namespace strata::scene {
namespace {

// "0.45", "1": a float as its shortest text.
std::string number(std::uint32_t bits) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, float_from_bits(bits));
  return std::string(text, end);
}

// One line an instance: "NAME@LINE:COLUMN: PARAM VALUE..., PARAM = TARGET".
std::string rendered(const Instance& in) {
  std::string out =
      in.name + "@" + std::to_string(in.where.line) + ":" + std::to_string(in.where.column) + ":";
  const char* separator = " ";
  for (const Setting& s : in.settings) {
    out += separator + declared_name(s.param);
    separator = ", ";
    switch (s.kind) {
      case SettingKind::value:
        for (std::uint32_t i = 0; i < slot_words(field_type(*s.param.field)); ++i) {
          out += ' ';
          out += field_type(*s.param.field) == FieldType::integer
                     ? std::to_string(static_cast<std::int32_t>(s.words[i]))
                     : number(s.words[i]);
        }
        break;
      case SettingKind::shader:
        out += " = " + s.target;
        break;
      case SettingKind::interface:
        out += " = interface " + s.target;
        break;
    }
  }
  return out + "\n";
}

struct Read {
  std::string instances;
  std::string diagnostics;
};

using Files = std::vector<std::pair<std::string, std::string>>;

Read read(const Files& files, std::size_t read_size, const std::vector<std::string>& dirs = {}) {
  MemoryFiles memory(read_size);
  for (const auto& [path, text] : files) {
    memory.add(path, text);
  }
  ReadOptions options;
  options.include_dirs = dirs;
  const Scene scene = read_scene(files.front().first, memory, options);
  Read r;
  for (const Instance& in : scene.instances) {
    r.instances += rendered(in);
  }
  for (const Diagnostic& d : scene.diagnostics) {
    r.diagnostics += format_diagnostic(d, scene.summary.files) + "\n";
  }
  return r;
}

struct Row {
  const char* what;
  Files files;  // the scene first
  std::string instances;
  std::string diagnostics;
  std::vector<std::string> include_dirs = {};
};

void expect_rows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    for (const std::size_t read_size : {std::size_t{1} << 20, std::size_t{1}, std::size_t{7}}) {
      SCOPED_TRACE(std::string(row.what) + ", read " + std::to_string(read_size) +
                   " bytes at a time");
      const Read r = read(row.files, read_size, row.include_dirs);
      EXPECT_EQ(r.instances, row.instances);
      EXPECT_EQ(r.diagnostics, row.diagnostics);
    }
  }
}

// A file of `lines` lines, each "# n".
std::string padding(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += "# " + std::to_string(i) + "\n";
  }
  return text;
}

std::string shipped_declaration() {
  std::ifstream in(STRATAMIX_DECLARATION);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SceneSyntax, ValuesTokensAndBlocks) {
  expect_rows({
      {"each value form, as the declaration types it",
       {{"s.mi",
         "shader \"a\" \"strataMix\" (\n"
         "  \"baseColor\" 1 0.5 .25, \"layerColor\" 1 2. 3 4,\n"
         "  \"layerNormal2\" -1 0 1e-3, \"gamma\" 2,\n"
         "  \"blendEnable\" on, \"correctEnable\" true, \"normalEnable\" off,\n"
         "  \"useLayerAlpha\" false, \"normalizeNormal\" -2, \"blendMode\" 15,\n"
         "  \"blendAmount\" 1, \"contrast\" 1.5, \"layerWeight3\" -.5\n"
         ")\n"}},
       "a@1:1: baseColor 1 0.5 0.25 1, layerColor 1 2 3 4, layerNormal2 -1 0 0.001, gamma 2, "
       "blendEnable 1, correctEnable 1, normalEnable 0, useLayerAlpha 0, normalizeNormal -2, "
       "blendMode 15, blendAmount 1, contrast 1.5, layerWeight3 -0.5\n",
       ""},
      {"an instance with no parameters, and one on a line of its own words",
       {{"s.mi", "shader \"a\" \"strataMix\" ()\nshader\n\"b\"\n\"strataMix\"\n(\"gamma\"\n2)\n"}},
       "a@1:1:\nb@2:1: gamma 2\n",
       "s.mi:1:1: warning: baseColor is left out, so the colour path reads it as 0: black, "
       "alpha 0\n"
       "s.mi:2:1: warning: baseColor is left out, so the colour path reads it as 0: black, "
       "alpha 0\n"},
      {"comments and strings that hold instance-like text",
       {{"s.mi",
         "# shader \"c\" \"strataMix\" ( \"gamma\" 1 )\n"
         "shader \"t\" \"mib_text\" ( \"s\" \"shader \\\"x\\\" \\\"strataMix\\\" (\",\n"
         "  \"u\" \"a # b ( [\", \"v\" 1 )  # ) ] }\n"
         "myshader \"d\" \"strataMix\" ( \"gamma\" 1 )\n"}},
       "",
       ""},
      {"instances at any depth: a phenomenon, another block, brackets of another shader",
       {{"s.mi",
         "declare phenomenon color \"ph\" ( color \"tint\" )\n"
         "  shader \"in\" \"strataMix\" ( \"baseColor\" = interface \"tint\" )\n"
         "  root = \"in\"\n"
         "end declare\n"
         "instance \"i\" \"obj\" ( [ { shader \"deep\" \"strataMix\" ( \"baseColor\" 1 1 1 ) } ] "
         ")\n"
         "end instance\n"}},
       "in@2:3: baseColor = interface tint\ndeep@5:26: baseColor 1 1 1 1\n",
       ""},
      {"the shipped declaration is not an instance",
       {{"s.mi", "$include \"strataMix.mi\"\n"}, {"strataMix.mi", shipped_declaration()}},
       "",
       ""},
      {"connections to instances before and after, with a field, and to none",
       {{"s.mi",
         "shader \"tex\" \"mib_lookup\" ( \"x\" 1 )\n"
         "shader \"a\" \"strataMix\" ( \"baseColor\" = \"tex\", \"layerColor\" = "
         "\"tex.outColor\",\n"
         "  \"layerNormal0\" = \"later.outNormal\", \"gamma\" = \"nowhere\" )\n"
         "shader \"later\" \"strataMix\" ( \"baseColor\" = \"a\" )\n"}},
       "a@2:1: baseColor = tex, layerColor = tex.outColor, layerNormal0 = later.outNormal, "
       "gamma = nowhere\n"
       "later@4:1: baseColor = a\n",
       "s.mi:3:39: error: gamma is connected to 'nowhere', which the scene does not define\n"},
      {"an interface connection outside any phenomenon",
       {{"s.mi", "shader \"a\" \"strataMix\" ( \"gamma\" = interface \"g\" )\n"}},
       "a@1:1:\n",
       "s.mi:1:36: error: 'interface' connects to a parameter of the phenomenon around it, and no "
       "'declare phenomenon' is open here\n"},
      {"CRLF line ends",
       {{"s.mi", "# one\r\n\r\nshader \"a\" \"strataMix\" (\r\n  \"gamma\" x )\r\n"}},
       "a@3:1:\n",
       "s.mi:4:11: error: gamma is a scalar: 'x' is not a number\n"},
      {"CR line ends, and LF and CRLF mixed",
       {{"s.mi", "# one\r# two\n\r\nshader \"a\" \"strataMix\" (\r  \"gamma\" x )\r"}},
       "a@4:1:\n",
       "s.mi:5:11: error: gamma is a scalar: 'x' is not a number\n"},
      {"a byte-order mark, and columns after it",
       {{"s.mi", "\xEF\xBB\xBFshader \"a\" \"strataMix\" ( \"gamma\" x )\n"}},
       "a@1:1:\n",
       "s.mi:1:34: error: gamma is a scalar: 'x' is not a number\n"},
      {"a line over the bound: an error, its text skipped; a line at the bound read",
       {{"s.mi", "# a\n" + std::string(kMaxLineBytes + 1, '1') +
                     "\nshader \"a\" \"strataMix\" ( \"gamma\" x )\n" +
                     std::string(kMaxLineBytes - 36, ' ') +
                     "shader \"b\" \"strataMix\" ( \"gamma\" 1 )"}},
       "a@3:1:\nb@4:1048541: gamma 1\n",
       "s.mi:2:1: error: a line longer than 1048576 bytes: its text is skipped unread\n"
       "s.mi:3:34: error: gamma is a scalar: 'x' is not a number\n"
       "s.mi:4:1048541: warning: baseColor is left out, so the colour path reads it as 0: "
       "black, alpha 0\n"},
      {"a NUL byte",
       {{"s.mi", std::string("shader \"a\" \"mib\" ( \"x\" 1 )\n  \0 \0\n", 31)}},
       "",
       "s.mi:2:3: error: a NUL byte: a scene is text (the file's other NUL bytes are not named)\n"},
  });
}

TEST(SceneSyntax, Includes) {
  std::vector<std::pair<std::string, std::string>> deep = {{"d0.mi", "$include \"d1.mi\"\n"}};
  for (int i = 1; i <= kMaxIncludeDepth; ++i) {
    deep.push_back(
        {"d" + std::to_string(i) + ".mi", "$include \"d" + std::to_string(i + 1) + ".mi\"\n"});
  }
  const std::string instance = "shader \"a\" \"strataMix\" ( \"baseColor\" 1 1 1 )\n";
  expect_rows({
      {"found beside the including file, then in the include folders in order",
       {{"scenes/s.mi", "$include \"parts/p.mi\"\n$include \"lib.mi\"\n"},
        {"scenes/parts/p.mi", padding(2) + "$include \"q.mi\"\n"},
        {"scenes/parts/q.mi", "shader \"q\" \"strataMix\" ( \"gamma\" x )\n"},
        {"one/lib.mi", "shader \"one\" \"strataMix\" ( \"baseColor\" 1 1 1 )\n"},
        {"two/lib.mi", "shader \"two\" \"strataMix\" ( )\n"}},
       "q@1:1:\none@1:1: baseColor 1 1 1 1\n",
       "scenes/parts/q.mi:1:34: error: gamma is a scalar: 'x' is not a number\n",
       {"one", "two"}},
      {"one not found is a warning, and the scene is read on",
       {{"s.mi", "$include \"strataMix.mi\"\n" + instance}},
       "a@2:1: baseColor 1 1 1 1\n",
       "s.mi:1:1: warning: 'strataMix.mi' is not found beside s.mi or in the include folders: "
       "not followed\n",
       {"inc"}},
      {"a cycle",
       {{"a.mi", "$include \"b.mi\"\n" + instance}, {"b.mi", "\n  $include \"a.mi\"\n"}},
       "a@2:1: baseColor 1 1 1 1\n",
       "b.mi:2:3: error: an include cycle: a.mi is already being read\n"},
      {"too deep", deep, "",
       "d16.mi:1:1: error: includes nested deeper than 16: 'd17.mi' is not read\n"},
      {"no file named",
       {{"s.mi", "$include gamma\n"}},
       "",
       "s.mi:1:1: error: '$include' names no file: a quoted file name follows it\n"},
      {"other directives, each named once a file",
       {{"s.mi", "$ifdef A\n$ifdef B\n$endif\n$endif\n"}},
       "",
       "s.mi:1:1: warning: '$ifdef' is not followed: the text it governs is read as it stands\n"
       "s.mi:3:1: warning: '$endif' is not followed: the text it governs is read as it stands\n"},
  });
}

TEST(SceneSyntax, ValuesThatAreWrong) {
  const auto one = [](const std::string& params) {
    return Files{{"s.mi", "shader \"a\" \"strataMix\" (\n" + params + "\n)\n"}};
  };
  expect_rows({
      {"numbers out of float range, and a subnormal one in range",
       one("\"gamma\" 1e39, \"offset\" -1e39, \"contrast\" 1e-50, \"hueAdjust\" 1e-40"),
       "a@1:1: hueAdjust 1e-40\n",
       "s.mi:2:9: error: '1e39' is out of range for a scalar (a 32-bit float)\n"
       "s.mi:2:24: error: '-1e39' is out of range for a scalar (a 32-bit float)\n"
       "s.mi:2:42: error: '1e-50' is out of range for a scalar (a 32-bit float)\n"},
      {"integers out of range, and the lowest in range",
       one("\"blendMode\" 2147483648, \"layerCount\" -2147483648"),
       "a@1:1: layerCount -2147483648\n",
       "s.mi:2:13: error: '2147483648' is out of range for a 32-bit integer\n"},
      {"too few and too many numbers",
       one("\"baseColor\" 1 2, \"layerColor\" 1 2 3 4 5, \"layerNormal0\" 1 2 3 4, \"gamma\" 1 2"),
       "a@1:1:\n",
       "s.mi:2:13: error: baseColor is a color: expected 3 or 4 numbers, got 2\n"
       "s.mi:2:31: error: layerColor is a color: expected 3 or 4 numbers, got 5\n"
       "s.mi:2:57: error: layerNormal0 is a vector: expected 3 numbers, got 4\n"
       "s.mi:2:74: error: gamma is a scalar: expected 1 value, got 2\n"},
      {"words of the wrong type",
       one("\"blendEnable\" maybe, \"blendMode\" on, \"layerCount\" 1.5, \"gamma\" on, \"offset\" "
           "+1, \"contrast\" 1.2.3, \"hueAdjust\" 1e, \"useLayerAlpha\" 1.0"),
       "a@1:1:\n",
       "s.mi:2:15: error: blendEnable is a boolean: 'maybe' is not on, off, true, false or an "
       "integer\n"
       "s.mi:2:34: error: blendMode is an integer: 'on' is not an integer\n"
       "s.mi:2:51: error: layerCount is an integer: '1.5' is not an integer\n"
       "s.mi:2:64: error: gamma is a scalar: 'on' is not a number\n"
       "s.mi:2:77: error: offset is a scalar: '+1' is not a number\n"
       "s.mi:2:92: error: contrast is a scalar: '1.2.3' is not a number\n"
       "s.mi:2:111: error: hueAdjust is a scalar: '1e' is not a number\n"
       "s.mi:2:131: error: useLayerAlpha is a boolean: '1.0' is not on, off, true, false or an "
       "integer\n"},
      {"unknown parameters, with the nearest declared name",
       one("\"blendMod\" 1, \"layerWeight[3]\" 1, \"layerWeight8\" 1, \"layerWeight\" 1, "
           "\"gamma0\" 1, \"frobnicate\" 1"),
       "a@1:1:\n",
       "s.mi:2:1: error: unknown parameter 'blendMod'\n"
       "s.mi:2:1: note: did you mean 'blendMode'?\n"
       "s.mi:2:15: error: unknown parameter 'layerWeight[3]'\n"
       "s.mi:2:15: note: did you mean 'layerWeight3'?\n"
       "s.mi:2:35: error: unknown parameter 'layerWeight8'\n"
       "s.mi:2:35: note: did you mean 'layerWeight0'?\n"
       "s.mi:2:53: error: unknown parameter 'layerWeight'\n"
       "s.mi:2:53: note: did you mean 'layerWeight0'?\n"
       "s.mi:2:70: error: unknown parameter 'gamma0'\n"
       "s.mi:2:70: note: did you mean 'gamma'?\n"
       "s.mi:2:82: error: unknown parameter 'frobnicate'\n"},
      {"a parameter set twice, a slot set once each",
       one("\"gamma\" 1,\n\"layerWeight0\" 1, \"layerWeight1\" 1,\n\"gamma\" = \"x\""),
       "a@1:1: gamma 1, layerWeight0 1, layerWeight1 1\n",
       "s.mi:4:1: error: gamma is set twice\ns.mi:2:1: note: first set here\n"},
      {"separators: a missing comma, a comma too many, a name without a value",
       one("\"gamma\" 1 \"offset\" 1,, \"contrast\", \"hueAdjust\" 1,"),
       "a@1:1: gamma 1, offset 1, hueAdjust 1\n",
       "s.mi:2:11: error: expected ',' or ')' after the parameter, not \"offset\"\n"
       "s.mi:2:22: error: a ',' where a parameter was expected\n"
       "s.mi:2:34: error: 'contrast' has no value before ','\n"
       "s.mi:3:1: error: a ',' with no parameter after it\n"},
      {"not a name where one belongs, and a bracket where a value does",
       one("1 2, \"gamma\" [ 1 2 ], \"offset\" 1"), "a@1:1: offset 1\n",
       "s.mi:2:1: error: expected a parameter's quoted name, not '1'\n"
       "s.mi:2:14: error: 'gamma' has no value before '['\n"},
      {"an empty connection, and '=' followed by no name",
       one("\"gamma\" = \"\", \"offset\" = 1, \"contrast\" = interface 2"), "a@1:1:\n",
       "s.mi:2:11: error: connected to an empty name\n"
       "s.mi:2:26: error: expected an instance's quoted name or 'interface' after '=', not "
       "'1'\n"
       "s.mi:2:52: error: expected the quoted name of the phenomenon's parameter after "
       "'interface', not '2'\n"},
  });
}

TEST(SceneSyntax, TruncatedAtEachKindOfToken) {
  const auto cut = [](const std::string& text) { return Files{{"s.mi", text}}; };
  const std::string open = "shader \"a\" \"strataMix\" (\n";
  const std::string never_closed =
      "s.mi:1:24: error: the parameter list of 'a' is not closed: the file ends first\n";
  expect_rows({
      {"before the parameter list: no instance yet", cut("shader \"a\" \"strataMix\""), "", ""},
      {"after the opening bracket", cut(open), "a@1:1:\n", never_closed},
      {"in a parameter's name", cut(open + "  \"gam"), "a@1:1:\n",
       "s.mi:2:3: error: a string is not closed: the file ends first\n" + never_closed},
      {"after a name", cut(open + "  \"gamma\""), "a@1:1:\n",
       "s.mi:2:10: error: 'gamma' has no value before the end of the file\n" + never_closed},
      {"in a number", cut(open + "  \"gamma\" 1."), "a@1:1: gamma 1\n", never_closed},
      {"in a colour's numbers", cut(open + "  \"baseColor\" 1 1"), "a@1:1:\n",
       "s.mi:2:15: error: baseColor is a color: expected 3 or 4 numbers, got 2\n" + never_closed},
      {"after '='", cut(open + "  \"gamma\" ="), "a@1:1:\n",
       "s.mi:2:12: error: expected an instance's quoted name or 'interface' after '=', not the "
       "end of the file\n" +
           never_closed},
      {"after a comma", cut(open + "  \"gamma\" 1,"), "a@1:1: gamma 1\n", never_closed},
      {"in a comment", cut(open + "  \"gamma\" 1 # the end"), "a@1:1: gamma 1\n", never_closed},
      {"before the next statement", cut(open + "  \"gamma\" 1\nshader \"b\" \"strataMix\" ()\n"),
       "a@1:1: gamma 1\nb@3:1:\n",
       "s.mi:3:1: error: the parameter list of 'a' opened at 1:24 is not closed before "
       "'shader'\n"
       "s.mi:3:1: warning: baseColor is left out, so the colour path reads it as 0: black, "
       "alpha 0\n"},
      {"in a string of another shader", cut("shader \"t\" \"mib\" ( \"x\" \"ab"), "",
       "s.mi:1:24: error: a string is not closed: the file ends first\n"
       "s.mi:1:18: error: '(' is never closed: the file ends first\n"},
      {"in an include's name", cut("$include \"a"), "",
       "s.mi:1:10: error: a string is not closed: the file ends first\n"},
      {"in a phenomenon", cut("declare phenomenon color \"p\" ( )\n"), "",
       "s.mi:1:1: error: this 'declare' has no 'end declare': the file ends first\n"},
      {"brackets closed by the wrong kind, or never opened",
       cut("shader \"t\" \"mib\" ( [ { ] )\n) }"), "",
       "s.mi:1:22: error: '{' is not closed before ']' at 1:24\n"
       "s.mi:2:1: error: ')' closes nothing\n"
       "s.mi:2:3: error: '}' closes nothing\n"},
      {"a string that its line ends", cut("shader \"t\" \"mib\" ( \"x\" \"a\n\" )"), "",
       "s.mi:1:24: error: a string is not closed: its line ends first\n"
       "s.mi:2:1: error: a string is not closed: the file ends first\n"
       "s.mi:1:18: error: '(' is never closed: the file ends first\n"},
  });
}

// However the instance is cut, the reader says that its parameter list is
// not closed (or that a string is not), and keeps no more than it read.
TEST(SceneSyntax, EveryCutOfAnInstanceIsReported) {
  const std::string text =
      "shader \"t\" \"mib\" ()\nshader \"a\" \"strataMix\" ( \"baseColor\" 1 0.5 0 1, "
      "\"layerColor\" = \"t.outColor\", "
      "# c\n \"blendEnable\" on )\n";
  const std::size_t open = text.find("strataMix\" (") + 11;
  for (std::size_t n = open + 1; n < text.size() - 2; ++n) {
    SCOPED_TRACE("cut after " + std::to_string(n) + " bytes");
    MemoryFiles memory;
    memory.add("s.mi", text.substr(0, n));
    const Scene scene = read_scene("s.mi", memory, {});
    ASSERT_EQ(scene.instances.size(), 1u);
    EXPECT_NE(scene.diagnostics.back().message.find("is not closed: the file ends first"),
              std::string::npos)
        << scene.diagnostics.back().message;
    EXPECT_LE(scene.instances[0].settings.size(), 3u);
  }
}

TEST(SceneSyntax, FilesThatCannotBeRead) {
  MemoryFiles memory;
  memory.refuse("dir.mi", "is a folder, not a file");
  memory.refuse("inc", "is a folder, not a file");
  memory.add("s.mi", "$include \"inc\"\n");
  const Scene missing = read_scene("none.mi", memory, {});
  const Scene folder = read_scene("dir.mi", memory, {});
  const Scene include = read_scene("s.mi", memory, {});
  EXPECT_TRUE(missing.summary.unreadable);
  EXPECT_TRUE(folder.summary.unreadable);
  EXPECT_FALSE(include.summary.unreadable);
  ASSERT_EQ(missing.diagnostics.size(), 1u);
  ASSERT_EQ(folder.diagnostics.size(), 1u);
  ASSERT_EQ(include.diagnostics.size(), 1u);
  EXPECT_EQ(format_diagnostic(missing.diagnostics[0], missing.summary.files),
            "none.mi: error: no such file");
  EXPECT_EQ(format_diagnostic(folder.diagnostics[0], folder.summary.files),
            "dir.mi: error: is a folder, not a file");
  EXPECT_EQ(format_diagnostic(include.diagnostics[0], include.summary.files),
            "s.mi:1:1: error: cannot include inc: is a folder, not a file");
}

// The machine's files, through the tools' rule for text: a regular file or
// nothing.
TEST(SceneSyntax, DiskFilesThatCannotBeRead) {
  const struct {
    std::string path;
    std::string diagnostic;
  } rows[] = {
    {STRATAMIX_SCENES "/parts", STRATAMIX_SCENES "/parts: error: is a folder, not a file"},
    {STRATAMIX_SCENES "/none.mi", STRATAMIX_SCENES "/none.mi: error: no such file"},
#if !defined(_WIN32)
    {"/dev/null", "/dev/null: error: is a character device, not a regular file"},
#endif
  };
  for (const auto& row : rows) {
    DiskFiles disk;
    const Scene scene = read_scene(row.path, disk, {});
    EXPECT_TRUE(scene.summary.unreadable) << row.path;
    ASSERT_EQ(scene.diagnostics.size(), 1u) << row.path;
    EXPECT_EQ(format_diagnostic(scene.diagnostics[0], scene.summary.files), row.diagnostic);
  }
}

// What `stratamix check` says of the small scenes beside this file, read
// from disk: every diagnostic as a compiler gives it, in the order found.
TEST(SceneSyntax, ScenesOnDisk) {
  const std::string dir = STRATAMIX_SCENES "/";
  const std::string declaration_dir =
      std::string(STRATAMIX_DECLARATION).substr(0, std::string(STRATAMIX_DECLARATION).rfind('/'));
  const struct {
    std::string scene;
    std::vector<std::string> include_dirs;
    std::string instances;
    std::string diagnostics;
  } rows[] = {
      {"looks.mi",
       {declaration_dir},
       "rust_layer@9:1: baseColor 0.45 0.3 0.2 1, blendEnable 1, blendMode 15, layerColor = "
       "rust_tex.outColor, blendAmount 0.6, correctEnable 1, gamma 2.2, contrast 1.1\n"
       "panel_normals@20:1: normalEnable 1, outputNormal 1, layerCount 2, layerEnable0 1, "
       "layerNormal0 0.2 0 0.98, layerWeight0 1, layerBalance0 0.5, layerEnable1 0, "
       "normalizeNormal 1\n"
       "panel_look@36:5: baseColor = interface tint, blendEnable 1, blendMode 3, layerColor 0.8 "
       "0.35 0.1 1, blendAmount = interface strength\n",
       ""},
      {"looks.mi",
       {},
       "",  // as above
       "looks.mi:5:1: warning: 'strataMix.mi' is not found beside looks.mi: not followed\n"},
      {"mistakes.mi",
       {},
       "",
       "mistakes.mi:5:5: error: unknown parameter 'blendMod'\n"
       "mistakes.mi:5:5: note: did you mean 'blendMode'?\n"
       "mistakes.mi:11:17: error: baseColor is a color: expected 3 or 4 numbers, got 2\n"
       "mistakes.mi:12:13: error: gamma is a scalar: expected 1 value, got 2\n"
       "mistakes.mi:20:5: warning: layerCount is 12: the record holds 8 slots, and the normal "
       "stage visits no more than those\n"
       "mistakes.mi:19:5: warning: skipPhotons is 2: the gate fires only at exactly 1, so "
       "never\n"
       "mistakes.mi:23:1: warning: contrast is left out, so the colour correction reads it as "
       "0: every channel becomes 0.31\n"
       "mistakes.mi:32:5: warning: blendMode is 23, outside 0 to 22: the call returns "
       "baseColor, neither blended nor corrected\n"
       "mistakes.mi:30:5: error: baseColor is connected to 'missing_tex', which the scene does "
       "not define\n"},
      {"truncated.mi",
       {},
       "",
       "truncated.mi:4:5: error: a string is not closed: the file ends first\n"
       "truncated.mi:1:26: error: the parameter list of 'cut' is not closed: the file ends "
       "first\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.scene + (row.include_dirs.empty() ? "" : " -I " + row.include_dirs[0]));
    DiskFiles disk;
    ReadOptions options;
    options.include_dirs = row.include_dirs;
    const Scene scene = read_scene(dir + row.scene, disk, options);
    EXPECT_FALSE(scene.summary.unreadable);
    std::string instances;
    for (const Instance& in : scene.instances) {
      instances += rendered(in);
    }
    std::string diagnostics;
    for (const Diagnostic& d : scene.diagnostics) {
      std::string line = format_diagnostic(d, scene.summary.files);
      for (std::size_t at; (at = line.find(dir)) != std::string::npos;) {
        line.erase(at, dir.size());
      }
      diagnostics += line + "\n";
    }
    if (!row.instances.empty()) {
      EXPECT_EQ(instances, row.instances);
    }
    EXPECT_EQ(diagnostics, row.diagnostics);
  }
}

// The warnings of instances that read well: one row per rule, and rows
// where the rule must stay silent.
TEST(SceneRules, WarnWhereTheShaderDoesWhatWasLikelyNotMeant) {
  const auto one = [](const std::string& params) {
    return Files{{"s.mi", "shader \"a\" \"strataMix\" (\n" + params + "\n)\n"}};
  };
  const std::string colour = "\"baseColor\" 1 1 1, ";
  const std::string normal = "\"normalEnable\" on, \"outputNormal\" on, ";
  expect_rows({
      {"the colour path from black: baseColor left out", one(""), "a@1:1:\n",
       "s.mi:1:1: warning: baseColor is left out, so the colour path reads it as 0: black, "
       "alpha 0\n"},
      {"gates at 2 and -1 never fire; at 1 and 0 they are as meant",
       one(normal + "\"skipPhotons\" 2, \"skipReflections\" -1"),
       "a@1:1: normalEnable 1, outputNormal 1, skipPhotons 2, skipReflections -1\n",
       "s.mi:2:39: warning: skipPhotons is 2: the gate fires only at exactly 1, so never\n"
       "s.mi:2:56: warning: skipReflections is -1: the gate fires only at exactly 1, so never\n"},
      {"gates that are never read: no normal stage",
       one(colour + "\"skipPhotons\" 2, \"layerCount\" 9"),
       "a@1:1: baseColor 1 1 1 1, skipPhotons 2, layerCount 9\n", ""},
      {"layerCount over 8", one(normal + "\"layerCount\" 9"),
       "a@1:1: normalEnable 1, outputNormal 1, layerCount 9\n",
       "s.mi:2:39: warning: layerCount is 9: the record holds 8 slots, and the normal stage "
       "visits no more than those\n"},
      {"blendMode out of range: its blend inputs no longer matter, nor the correction",
       one(colour + "\"blendEnable\" on, \"blendMode\" 23, \"correctEnable\" on"),
       "a@1:1: baseColor 1 1 1 1, blendEnable 1, blendMode 23, correctEnable 1\n",
       "s.mi:2:38: warning: blendMode is 23, outside 0 to 22: the call returns baseColor, "
       "neither blended nor corrected\n"},
      {"blendMode out of range with the blend off: never read", one(colour + "\"blendMode\" -1"),
       "a@1:1: baseColor 1 1 1 1, blendMode -1\n", ""},
      {"the blend on, its amount and layer colour left out", one(colour + "\"blendEnable\" on"),
       "a@1:1: baseColor 1 1 1 1, blendEnable 1\n",
       "s.mi:1:1: warning: layerColor is left out, so the blend reads it as 0: black, alpha 0\n"
       "s.mi:1:1: warning: blendAmount is left out, so the blend reads it as 0: the base "
       "colour, unblended\n"},
      {"the correction on: gamma and contrast left out warned, the zero adjusters not",
       one(colour + "\"correctEnable\" on"), "a@1:1: baseColor 1 1 1 1, correctEnable 1\n",
       "s.mi:1:1: warning: gamma is left out, so the colour correction reads it as 0: an "
       "infinite exponent, unguarded\n"
       "s.mi:1:1: warning: contrast is left out, so the colour correction reads it as 0: every "
       "channel becomes 0.31\n"},
      {"a connected switch may be on: the correction counts as running",
       one(colour + "\"correctEnable\" = \"sw\", \"gamma\" 1"),
       "a@1:1: baseColor 1 1 1 1, correctEnable = sw, gamma 1\n",
       "s.mi:1:1: warning: contrast is left out, so the colour correction reads it as 0: every "
       "channel becomes 0.31\n"
       "s.mi:2:20: error: correctEnable is connected to 'sw', which the scene does not "
       "define\n"},
      {"slots: an enabled slot without weight and balance; an off slot; one beyond the count",
       one(normal + "\"layerCount\" 2, \"layerEnable0\" on, \"layerEnable2\" on"),
       "a@1:1: normalEnable 1, outputNormal 1, layerCount 2, layerEnable0 1, layerEnable2 1\n",
       "s.mi:1:1: warning: layerWeight0 is left out, so the normal stage reads it as 0: the "
       "slot adds nothing\n"
       "s.mi:1:1: warning: layerBalance0 is left out, so the normal stage reads it as 0: the "
       "slot adds nothing\n"},
      {"an enabled slot with weight and balance, its normal left out",
       one(normal + "\"layerCount\" 1, \"layerEnable0\" on, \"layerWeight0\" 1, "
                    "\"layerBalance0\" 0.5"),
       "a@1:1: normalEnable 1, outputNormal 1, layerCount 1, layerEnable0 1, layerWeight0 1, "
       "layerBalance0 0.5\n",
       "s.mi:1:1: warning: layerNormal0 is left out, so the normal stage reads it as 0: a zero "
       "vector, which still counts in the average\n"},
      {"normalMix and normalScale treat 0 as 1; the normal path's end skips the colour path",
       one(normal + "\"blendEnable\" on, \"correctEnable\" on"),
       "a@1:1: normalEnable 1, outputNormal 1, blendEnable 1, correctEnable 1\n", ""},
      {"a refused value is neither set nor left out",
       one(colour + "\"correctEnable\" on, \"gamma\" x, \"contrast\" 1"),
       "a@1:1: baseColor 1 1 1 1, correctEnable 1, contrast 1\n",
       "s.mi:2:48: error: gamma is a scalar: 'x' is not a number\n"},
  });
}

// A shader block written from a record reads back to that record, bit for
// bit; what the reader warns of in it is what the record holds.
TEST(SceneWriter, BlocksReadBackToTheirRecord) {
  const auto set = [](strataMix_params r, const char* name, std::vector<float> values) {
    const ParameterRef param = *parse_declared_name(name);
    auto* bytes = reinterpret_cast<unsigned char*>(&r) + param.offset();
    for (std::size_t i = 0; i < values.size(); ++i) {
      std::memcpy(bytes + 4 * i, &values[i], 4);
    }
    return r;
  };
  const auto set_int = [](strataMix_params r, const char* name, std::int32_t value) {
    const ParameterRef param = *parse_declared_name(name);
    std::memcpy(reinterpret_cast<unsigned char*>(&r) + param.offset(), &value, 4);
    return r;
  };
  strataMix_params look{};
  look = set(look, "baseColor", {0.45f, 0.3f, 0.2f, 1.0f});
  look = set_int(look, "blendEnable", 1);
  look = set_int(look, "blendMode", 15);
  look = set(look, "layerColor", {0.8f, 0.35f, 0.1f, 1.0f});
  look = set(look, "blendAmount", {0.6f});
  look = set_int(look, "correctEnable", 1);
  look = set(look, "gamma", {2.2f});
  look = set(look, "contrast", {1.1f});
  strataMix_params edges = look;
  edges = set(edges, "offset", {-0.0f});
  edges = set(edges, "hueAdjust", {std::numeric_limits<float>::denorm_min()});
  edges = set(edges, "saturationAdjust", {std::numeric_limits<float>::max()});
  edges = set(edges, "valueAdjust", {0.1f});
  edges = set(edges, "layerNormal7", {-1.0f, 1e-7f, 3.0e38f});
  edges = set_int(edges, "normalizeNormal", 2);
  edges = set_int(edges, "useLayerAlpha", -1);
  const struct {
    const char* what;
    std::string name;
    strataMix_params record;
    std::string diagnostics;
  } rows[] = {
      {"a look", "rust", look, ""},
      {"-0, the least subnormal, the greatest float, a switch at 2 and -1", "edges", edges, ""},
      {"a name with a quote, a backslash and a tab", "a \"b\" \\c\td", look, ""},
      {"the correction on with its zeros written out: nothing left out, nothing warned", "zero",
       set_int(set(strataMix_params{}, "baseColor", {1, 1, 1, 1}), "correctEnable", 1), ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string block = shader_block(row.name, row.record);
    MemoryFiles memory;
    memory.add("s.mi", block);
    const Scene scene = read_scene("s.mi", memory, {});
    ASSERT_EQ(scene.instances.size(), 1u) << block;
    EXPECT_EQ(scene.instances[0].name, row.name);
    std::string diagnostics;
    for (const Diagnostic& d : scene.diagnostics) {
      diagnostics += format_diagnostic(d, scene.summary.files) + "\n";
    }
    EXPECT_EQ(diagnostics, row.diagnostics) << block;
    const strataMix_params back = instance_record(scene.instances[0]);
    EXPECT_EQ(std::memcmp(&back, &row.record, sizeof back), 0) << block;
  }
}

// The block's text, worked out by hand for a record of zeros.
TEST(SceneWriter, EveryParameterWrittenInRecordOrder) {
  const ParameterRef layer_color = *parse_declared_name("layerColor");
  const std::string block = shader_block("look", strataMix_params{},
                                         {{layer_color, "connected in the preview to checker(6)"}});
  std::string expected =
      "shader \"look\" \"strataMix\" (\n"
      "    \"baseColor\" 0 0 0 0,\n"
      "    \"normalEnable\" off,\n"
      "    \"layerCount\" 0,\n";
  for (int i = 0; i < 8; ++i) {
    expected += "    \"layerEnable" + std::to_string(i) + "\" off,\n";
  }
  for (int i = 0; i < 8; ++i) {
    expected += "    \"layerNormal" + std::to_string(i) + "\" 0 0 0,\n";
  }
  expected += "    \"normalMix\" 0,\n";
  for (int i = 0; i < 8; ++i) {
    expected += "    \"layerWeight" + std::to_string(i) + "\" 0,\n";
  }
  for (int i = 0; i < 8; ++i) {
    expected += "    \"layerBalance" + std::to_string(i) + "\" 0,\n";
  }
  expected +=
      "    \"normalScale\" 0,\n"
      "    \"skipPhotons\" 0,\n"
      "    \"skipReflections\" 0,\n"
      "    \"normalAsColor\" off,\n"
      "    \"normalizeNormal\" off,\n"
      "    \"blendEnable\" off,\n"
      "    \"layerColor\" 0 0 0 0," +
      std::string(19, ' ') +
      "# connected in the preview to checker(6)\n"
      "    \"blendAmount\" 0,\n"
      "    \"blendMode\" 0,\n"
      "    \"useLayerAlpha\" off,\n"
      "    \"hueAdjust\" 0,\n"
      "    \"saturationAdjust\" 0,\n"
      "    \"valueAdjust\" 0,\n"
      "    \"gamma\" 0,\n"
      "    \"offset\" 0,\n"
      "    \"contrast\" 0,\n"
      "    \"correctEnable\" off,\n"
      "    \"outputNormal\" off\n"
      ")\n";
  EXPECT_EQ(block, expected);

  strataMix_params nan{};
  nan.gamma = std::numeric_limits<float>::quiet_NaN();
  nan.layerWeight[2] = std::numeric_limits<float>::infinity();
  try {
    shader_block("x", nan);
    ADD_FAILURE() << "a NaN written";
  } catch (const BlockError& e) {
    EXPECT_STREQ(e.what(), "layerWeight2 is infinite, which a scene cannot write");
  }
}

}  // namespace
}  // namespace strata::scene
