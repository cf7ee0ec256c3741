// recipes_test.cpp - the build folders of the recipes (the README's install,
// the benchmarks' README, scripts/demo, scripts/test, scripts/fuzz,
// scripts/lint): no two recipes leave one folder with settings the other
// does not expect, scripts/test gives every option it depends on, and a
// folder reconfigured without the tests runs none of its old test binaries.
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

// configure_steps - every `cmake -S . -B FOLDER ...` of a recipe, with the
// folder variable of a script ("$build", "$dir") resolved to its default,
// and scripts/test's `configure FOLDER ...` calls with the options its
// configure function adds.
std::vector<configure_step> configure_steps(const std::string& recipe) {
  std::vector<std::string> lines = joined_lines(source_dir() + "/" + recipe);
  std::map<std::string, std::string> defaults;  // variable: its default value
  static const std::regex assignment(R"(^\s*(?:local\s+)?(\w+)="?\$\{\w+:-([^}]+)\}"?)");
  static const std::regex cmake_line(R"(cmake -S \. -B ("?\$?\{?\w[\w-]*\}?"?)(.*))");
  static const std::regex configure_call(R"(^\s*configure ([\w-]+)(.*))");
  settings_map function_settings;
  std::vector<configure_step> out;
  std::smatch m;
  for (const std::string& line : lines) {
    if (std::regex_search(line, m, assignment)) defaults[m[1]] = m[2];
    if (std::regex_search(line, m, cmake_line)) {
      std::string folder = m[1];
      std::erase_if(folder, [](char c) { return c == '"' || c == '$' || c == '{' || c == '}'; });
      if (folder == "dir") {  // scripts/test's configure function
        function_settings = settings_of(m[2]);
        continue;
      }
      if (defaults.contains(folder)) folder = defaults[folder];
      out.push_back({recipe, folder, settings_of(m[2])});
    } else if (std::regex_search(line, m, configure_call)) {
      out.push_back({recipe, m[1], settings_of(m[2])});
    }
  }
  for (configure_step& step : out)
    if (step.recipe == "scripts/test") step.settings.merge(settings_map(function_settings));
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

TEST(Recipes, NoTwoRecipesLeaveAFolderTheOtherDoesNotExpect) {
  settings_map options = project_options();
  ASSERT_GE(options.size(), 5u);
  std::vector<configure_step> steps;
  for (const char* recipe : {"README.md", "bench/README.md", "scripts/demo", "scripts/test",
                             "scripts/fuzz", "scripts/lint"}) {
    std::vector<configure_step> found = configure_steps(recipe);
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
