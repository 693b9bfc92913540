// The bash completion script, from the command table: it cannot fall behind the commands.
#include <sstream>

#include "CommandTable.h"
#include "Options.h"

namespace jrxlog {

namespace {

std::string optionWords(const std::vector<OptionSpec>& options) {
  std::string w;
  for (const OptionSpec& o : options) w += " --" + o.name;
  return w;
}

}  // namespace

std::string bashCompletion() {
  const auto& globals = globalOptionSpecs();
  std::string valueOptions, fileOptions, firstWords;
  auto note = [&](const std::vector<OptionSpec>& options) {
    for (const OptionSpec& o : options) {
      if (o.kind == ValueKind::Flag) continue;
      std::string word = "|--" + o.name;
      if ((valueOptions + "|").find(word + "|") == std::string::npos) valueOptions += word;
      bool file = o.kind == ValueKind::File || o.kind == ValueKind::TokenFile;
      if (file && (fileOptions + "|").find(word + "|") == std::string::npos)
        fileOptions += word;
    }
  };
  note(globals);
  std::ostringstream cases;
  for (const CommandSpec& c : commandSpecs()) {
    note(c.options);
    if (c.name.find(' ') == std::string::npos) firstWords += " " + c.name;
    std::string words = optionWords(c.options) + optionWords(globals) + " --help";
    for (const CommandSpec& second : commandSpecs())
      if (second.name.rfind(c.name + " ", 0) == 0) words += " " + second.name.substr(c.name.size() + 1);
    bool files = !c.arguments.empty() && c.arguments.front().file;
    cases << "    '" << c.name << "') words='" << words.substr(1) << "'; files=" << (files ? 1 : 0)
          << " ;;\n";
  }
  // bash patterns: --db|--limit|...
  valueOptions = valueOptions.substr(1);
  fileOptions = fileOptions.substr(1);

  std::ostringstream s;
  s << "# bash completion of jrxlog; made by 'jrxlog completion bash'\n"
    << "_jrxlog() {\n"
    << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
    << "  local command='' words files=0 i\n"
    << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
    << "    case \"${COMP_WORDS[i]}\" in\n"
    << "      " << valueOptions << ") ((i++)) ;;\n"
    << "      -*) ;;\n"
    << "      *) if [ -z \"$command\" ]; then command=${COMP_WORDS[i]};\n"
    << "         elif [ \"$command\" = compact ]; then command=\"compact ${COMP_WORDS[i]}\"; fi ;;\n"
    << "    esac\n"
    << "  done\n"
    << "  case \"$prev\" in\n"
    << "    " << fileOptions << ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
    << "    " << valueOptions << ") COMPREPLY=(); return ;;\n"
    << "  esac\n"
    << "  case \"$command\" in\n"
    << "    '') words='" << (firstWords.substr(1) + optionWords(globals) + " --help --version")
    << "' ;;\n"
    << cases.str() << "    *) words='' ;;\n"
    << "  esac\n"
    << "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
    << "  if [ \"$files\" = 1 ] && [[ $cur != -* ]]; then COMPREPLY+=($(compgen -f -- \"$cur\")); fi\n"
    << "}\n"
    << "complete -F _jrxlog jrxlog\n";
  return s.str();
}

}  // namespace jrxlog
