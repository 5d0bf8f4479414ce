#include "cli/command_arguments.h"
#include "cli/cli_texts.h"

namespace kestrix {

CommandArguments CommandArguments::parse(int argc, char** argv,
                                         const std::set<std::string>& flagNames,
                                         const std::set<std::string>& valueNames) {
  CommandArguments result;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
      result.positional.push_back(word);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (flagNames.count(word) != 0) {
      result.flags.insert(word);
    } else if (valueNames.count(word) != 0) {
      if (i + 1 >= argc) {
        result.problem = cliFormat(CliText::OptionNeedsValue, word.c_str());
        return result;
      }
      result.values[word] = argv[++i];
    } else {
      result.problem = cliFormat(CliText::UnknownOption, word.c_str());
      return result;
    }
  }
  return result;
}

}  // namespace kestrix
