// recipes_test.cpp - the build folders of the recipes (the README's install,
// the benchmarks' README, scripts/demo, scripts/test, scripts/fuzz,
// scripts/lint) and the presets of CMakePresets.json they use: every
// preset gives every option, no two recipes leave one folder with settings
// the other does not expect, scripts/test gives every option it depends
// on, and a folder reconfigured without the tests runs none of its old
// test binaries.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "support/harness.h"
#include "support/shell.h"

namespace zibbet::test {
namespace {

using namespace std::chrono_literals;

using settings_map = std::map<std::string, std::string>;  // -D name: value

// One cmake configure step of a recipe.
struct configure_step {
  std::string recipe;
  std::string folder;
  settings_map settings;
};

// joined_lines - the lines of a file, a line ending in a backslash joined
// with the next.
std::vector<std::string> joined_lines(const std::string& path) {
  std::vector<std::string> out;
  std::stringstream in(read_file(path));
  std::string pending;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with("\\")) {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    out.push_back(pending + line);
    pending.clear();
  }
  return out;
}

settings_map settings_of(const std::string& text) {
  settings_map out;
  static const std::regex define(R"(-D([A-Z_]+)=("[^"]*"|\S+))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), define);
       it != std::sregex_iterator(); ++it)
    out[(*it)[1]] = (*it)[2];
  return out;
}

// cmake_run - runs cmake with these arguments.
run_result cmake_run(std::vector<std::string> args) {
  run_options opts;
  opts.program = find_program("cmake");
  opts.args = std::move(args);
  opts.timeout = 60s;
  return run(opts);
}

// A configure preset of CMakePresets.json: its folder, relative to the
// source tree, and the settings cmake itself resolves for it.
struct preset {
  std::string folder;
  settings_map settings;
};

// Prints "NAME FOLDER" for each configure preset that is not hidden, the
// folder taken from the preset or the nearest one it inherits from (the
// first of several parents wins, as in cmake).
constexpr const char* preset_folders_script = R"cmake(
file(READ "${presets}" json)
string(JSON count LENGTH "${json}" configurePresets)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON name GET "${json}" configurePresets ${i} name)
  set(index_${name} ${i})
endforeach()
foreach(i RANGE ${last})
  string(JSON name GET "${json}" configurePresets ${i} name)
  string(JSON hidden ERROR_VARIABLE no_hidden GET "${json}" configurePresets ${i} hidden)
  if(no_hidden STREQUAL "NOTFOUND" AND hidden)
    continue()
  endif()
  set(at ${i})
  set(folder "")
  while(NOT at STREQUAL "")
    string(JSON folder ERROR_VARIABLE no_folder GET "${json}" configurePresets ${at} binaryDir)
    if(no_folder STREQUAL "NOTFOUND")
      break()
    endif()
    set(folder "")
    string(JSON parent ERROR_VARIABLE no_parent GET "${json}" configurePresets ${at} inherits)
    string(JSON kind ERROR_VARIABLE no_parent TYPE "${json}" configurePresets ${at} inherits)
    if(kind STREQUAL "ARRAY")
      string(JSON parent GET "${json}" configurePresets ${at} inherits 0)
    endif()
    set(at "")
    if(no_parent STREQUAL "NOTFOUND")
      set(at ${index_${parent}})
    endif()
  endwhile()
  string(REPLACE "\${presetName}" "${name}" folder "${folder}")
  string(REPLACE "\${sourceDir}/" "" folder "${folder}")
  message(NOTICE "${name} ${folder}")
endforeach()
)cmake";

// presets - the configure presets of CMakePresets.json by name.
std::map<std::string, preset> presets() {
  std::map<std::string, preset> out;
  temp_dir scratch;
  run_result listed = cmake_run({"-Dpresets=" + source_dir() + "/CMakePresets.json", "-P",
                                 scratch.write_file("folders.cmake", preset_folders_script)});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  std::stringstream lines(listed.err);
  for (std::string line; std::getline(lines, line);) {
    std::string name = line.substr(0, line.find(' '));
    std::string folder = line.size() > name.size() ? line.substr(name.size() + 1) : "";
    // "cmake --preset NAME -N" configures nothing and shows the variables
    // cmake resolved for the preset ("  NAME="VALUE"" or "  NAME:TYPE="VALUE"").
    run_result shown = cmake_run({"-S", source_dir(), "--preset", name, "-N"});
    EXPECT_EQ(shown.exit_code, 0) << name << ": " << shown.out << shown.err;
    static const std::regex variable(R"re(  (\w+)(?::\w+)?="([^"]*)")re");
    settings_map settings;
    std::stringstream variables(shown.out);
    std::smatch m;
    for (std::string text; std::getline(variables, text);)
      if (std::regex_match(text, m, variable)) settings[m[1]] = m[2];
    out[name] = {folder, settings};
  }
  return out;
}

// configure_steps - every `cmake -S . -B FOLDER ...` and `cmake --preset
// NAME ...` of a recipe, with the folder variable of a script ("$build")
// resolved to its default. A preset brings its folder and settings; a -B
// or -D after it counts over them, as it does for cmake.
std::vector<configure_step> configure_steps(const std::string& recipe,
                                            const std::map<std::string, preset>& known) {
  std::vector<std::string> lines = joined_lines(source_dir() + "/" + recipe);
  std::map<std::string, std::string> defaults;  // variable: its default value
  static const std::regex assignment(R"(^\s*(?:local\s+)?(\w+)="?\$\{\w+:-([^}]+)\}"?)");
  static const std::regex cmake_line(R"(cmake -S \. -B ("?\$?\{?\w[\w-]*\}?"?)([^;&|]*))");
  static const std::regex preset_line(R"(cmake --preset ([\w-]+)([^;&|]*))");
  static const std::regex folder_option(R"(-B ("?\$?\{?\w[\w-]*\}?"?))");
  auto resolved = [&](std::string folder) {
    std::erase_if(folder, [](char c) { return c == '"' || c == '$' || c == '{' || c == '}'; });
    return defaults.contains(folder) ? defaults[folder] : folder;
  };
  std::vector<configure_step> out;
  std::smatch m;
  for (const std::string& line : lines) {
    if (std::regex_search(line, m, assignment)) defaults[m[1]] = m[2];
    if (std::regex_search(line, m, cmake_line)) {
      out.push_back({recipe, resolved(m[1]), settings_of(m[2])});
    } else if (std::regex_search(line, m, preset_line)) {
      std::string rest = m[2];
      auto found = known.find(m[1]);
      if (found == known.end()) {
        ADD_FAILURE() << recipe << " uses the preset " << m[1] << ", which CMakePresets.json lacks";
        continue;
      }
      configure_step step{recipe, found->second.folder, found->second.settings};
      if (std::regex_search(rest, m, folder_option)) step.folder = resolved(m[1]);
      for (auto& [name, value] : settings_of(rest)) step.settings[name] = value;
      out.push_back(step);
    }
  }
  return out;
}

// The options of the project and their defaults, read from CMakeLists.txt.
settings_map project_options() {
  settings_map out;
  static const std::regex option(R"(option\((ZIBBET_\w+) "[^"]*" (ON|OFF)\))");
  std::string text = read_file(source_dir() + "/CMakeLists.txt");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it)
    out[(*it)[1]] = (*it)[2];
  out["CMAKE_BUILD_TYPE"] = "RelWithDebInfo";
  return out;
}

// Every preset gives every option of the project, so that a folder it
// configures holds nothing another run left in its cache.
TEST(Recipes, EveryPresetGivesEveryOption) {
  if (find_program("cmake").empty()) GTEST_SKIP() << "cmake is not on PATH";
  settings_map options = project_options();
  ASSERT_GE(options.size(), 5u);
  std::map<std::string, preset> known = presets();
  ASSERT_GE(known.size(), 5u) << "CMakePresets.json's presets were not found";
  for (const auto& [name, p] : known) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(p.folder.empty()) << "no binaryDir";
    for (const auto& [option, value] : options)
      EXPECT_TRUE(p.settings.contains(option)) << option << " is not given";
  }
}

TEST(Recipes, NoTwoRecipesLeaveAFolderTheOtherDoesNotExpect) {
  if (find_program("cmake").empty()) GTEST_SKIP() << "cmake is not on PATH";
  settings_map options = project_options();
  ASSERT_GE(options.size(), 5u);
  std::map<std::string, preset> known = presets();
  std::vector<configure_step> steps;
  for (const char* recipe : {"README.md", "bench/README.md", "scripts/demo", "scripts/test",
                             "scripts/fuzz", "scripts/lint"}) {
    std::vector<configure_step> found = configure_steps(recipe, known);
    EXPECT_FALSE(found.empty()) << recipe << " configures no folder";
    steps.insert(steps.end(), found.begin(), found.end());
  }

  std::map<std::string, std::vector<configure_step>> by_folder;
  for (const configure_step& step : steps) by_folder[step.folder].push_back(step);
  for (const auto& [folder, users] : by_folder) {
    SCOPED_TRACE(folder);
    std::set<std::string> names;
    for (const configure_step& step : users)
      for (const auto& [name, value] : step.settings) names.insert(name);
    for (const std::string& name : names) {
      // A setting one recipe gives stays in the folder's cache for the
      // next: every other recipe there gives the same, or relies on the
      // same default.
      std::set<std::string> values;
      for (const configure_step& step : users) {
        auto given = step.settings.find(name);
        if (given != step.settings.end()) {
          values.insert(given->second);
        } else if (options.contains(name)) {
          values.insert(options[name]);
        } else {
          values.insert("(not given)");
        }
      }
      EXPECT_EQ(values.size(), 1u) << name << " differs between the recipes of " << folder;
    }
  }

  // scripts/test builds what it runs: its folders are its own, and it
  // gives every option, whatever a cache holds.
  for (const configure_step& step : steps) {
    if (step.recipe != "scripts/test") continue;
    SCOPED_TRACE(step.folder);
    for (const configure_step& other : by_folder[step.folder])
      EXPECT_EQ(other.recipe, "scripts/test") << other.recipe << " uses it too";
    for (const auto& [name, value] : options)
      EXPECT_TRUE(step.settings.contains(name)) << name << " is not given";
  }
}

// The install recipe in a folder that scripts/test had used left ctest
// running the old test binaries; now a folder configured without the tests
// has none to run.
TEST(Recipes, FolderConfiguredWithoutTestsRunsNoOldTests) {
  std::string cmake = find_program("cmake");
  std::string ctest = find_program("ctest");
  if (cmake.empty() || ctest.empty()) GTEST_SKIP() << "cmake or ctest is not on PATH";
  temp_dir build;
  auto configure = [&](const std::string& tests) {
    run_options opts;
    opts.program = cmake;
    opts.args = {
        "-S", source_dir(), "-B", build.path(), "-DZIBBET_TESTS=" + tests, "-DZIBBET_BENCH=OFF"};
    opts.timeout = 120s;
    run_result r = run(opts);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  };
  auto listed = [&] {
    run_options opts;
    opts.program = "/bin/sh";
    opts.args = {"-c", "cd \"$1\" && exec \"$2\" -N", "sh", build.path(), ctest};
    return run(opts).out;
  };

  configure("ON");
  // What building the tests adds to the folder's test list, in short.
  build.write_file("tests/CTestTestfile.cmake", read_file(build / "tests/CTestTestfile.cmake") +
                                                    "add_test(old_binary /bin/true)\n");
  ASSERT_NE(listed().find("old_binary"), std::string::npos) << listed();

  configure("OFF");
  EXPECT_NE(listed().find("Total Tests: 0"), std::string::npos) << listed();
}

}  // namespace
}  // namespace zibbet::test
