// The bash completion script, read from the parser's own objects: it cannot fall behind the
// commands. A value named FILE is completed as a file name.
#include <set>
#include <sstream>

#include "CommandLine.h"

namespace jrxlog {

namespace {

std::vector<const CLI::Option*> named(const CLI::App& app) {
  return app.get_options([](const CLI::Option* o) { return o->nonpositional(); });
}

// The long options of `apps`, each once: a command takes its own and the global ones.
std::string optionWords(const std::vector<const CLI::App*>& apps) {
  std::set<std::string> seen;
  std::string w;
  for (const CLI::App* app : apps)
    for (const CLI::Option* o : named(*app))
      for (const std::string& name : o->get_lnames())
        if (seen.insert(name).second) w += " --" + name;
  return w;
}

// "--db|--limit|...": a bash pattern of the options of `apps` whose value `wanted` accepts.
template <class Wanted>
std::string pattern(const std::vector<const CLI::App*>& apps, const Wanted& wanted) {
  std::set<std::string> names;
  for (const CLI::App* app : apps)
    for (const CLI::Option* o : named(*app))
      if (o->get_type_size() != 0 && wanted(*o))
        for (const std::string& name : o->get_lnames()) names.insert("--" + name);
  std::string p;
  for (const std::string& n : names) p += (p.empty() ? "" : "|") + n;
  return p;
}

bool takesFile(const CLI::Option& o) { return valueName(o) == "FILE"; }

}  // namespace

std::string bashCompletion(const CLI::App& app) {
  std::vector<const CLI::App*> apps = {&app};
  std::string firstWords, parents;
  std::ostringstream cases;
  for (const auto& c : allCommands(app)) {
    apps.push_back(c.second);
    if (c.first.find(' ') == std::string::npos) firstWords += " " + c.first;
    std::string words = optionWords({c.second, &app});
    for (const CLI::App* second : c.second->get_subcommands([](const CLI::App*) { return true; })) {
      words += " " + second->get_name();
      if (parents.find(" " + c.first + " ") == std::string::npos) parents += " " + c.first + " ";
    }
    bool files = false;
    for (const CLI::Option* o : c.second->get_options())
      files = files || (o->get_positional() && takesFile(*o));
    cases << "    '" << c.first << "') words='" << words.substr(1) << "'; files=" << files
          << " ;;\n";
  }
  const std::string valueOptions = pattern(apps, [](const CLI::Option&) { return true; });
  const std::string fileOptions = pattern(apps, takesFile);

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
    << "         elif [[ '" << parents << "' == *\" $command \"* ]]; then\n"
    << "           command=\"$command ${COMP_WORDS[i]}\"; fi ;;\n"
    << "    esac\n"
    << "  done\n"
    << "  case \"$prev\" in\n"
    << "    " << fileOptions << ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
    << "    " << valueOptions << ") COMPREPLY=(); return ;;\n"
    << "  esac\n"
    << "  case \"$command\" in\n"
    << "    '') words='" << firstWords.substr(1) << optionWords({&app}) << "' ;;\n"
    << cases.str() << "    *) words='' ;;\n"
    << "  esac\n"
    << "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
    << "  if [ \"$files\" = 1 ] && [[ $cur != -* ]]; then COMPREPLY+=($(compgen -f -- \"$cur\")); fi\n"
    << "}\n"
    << "complete -F _jrxlog jrxlog\n";
  return s.str();
}

}  // namespace jrxlog
