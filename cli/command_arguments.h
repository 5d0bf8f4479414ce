// Splits a command's arguments into options and positional words.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestrix {

struct CommandArguments {
  std::set<std::string> flags;                // given options without a value
  std::map<std::string, std::string> values;  // given options with a value
  std::vector<std::string> positional;
  std::string problem;  // non-empty when the words make no sense

  // argv[0] is the command's name and is skipped. `flagNames` take no
  // value, `valueNames` take the next word; anything else starting with
  // "--" is a problem. "--" ends the options.
  static CommandArguments parse(int argc, char** argv, const std::set<std::string>& flagNames,
                                const std::set<std::string>& valueNames = {});
};

}  // namespace kestrix
