// The manual page (roff), read from the parser's own objects as the help is, so that it names
// the options the tool takes with their ranges and defaults.
#include <sstream>

#include "CommandLine.h"

namespace jrxlog {

namespace {

std::string roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    lineStart = c == '\n';
  }
  return out;
}

// A text of several lines keeps its layout; one line is filled as a paragraph.
void paragraph(std::ostream& out, const std::string& text) {
  if (text.empty()) return;
  if (text.find('\n') == std::string::npos)
    out << ".PP\n" << roff(text) << "\n";
  else
    out << ".PP\n.nf\n" << roff(text) << "\n.fi\n";
}

std::string spelled(const CLI::Option& o) {
  if (o.get_positional()) return "\\fI" + roff(o.get_name(true)) + "\\fR";
  std::string names;
  for (const std::string& s : o.get_snames()) names += "\\fB\\-" + roff(s) + "\\fR, ";
  for (const std::string& l : o.get_lnames())
    names += "\\fB\\-\\-" + roff(l) + "\\fR" + (&l == &o.get_lnames().back() ? "" : ", ");
  if (o.get_type_size() != 0) names += " \\fI" + roff(valueName(o)) + "\\fR";
  return names;
}

// The options of `app`; a command's --help is told once, among the global options.
void options(std::ostream& out, const CLI::App& app) {
  for (const CLI::Option* o : app.get_options()) {
    if (app.get_parent() && o == app.get_help_ptr()) continue;
    std::string help = optionHelp(*o);
    if (o->get_required()) help += "; required";
    if (!o->get_envname().empty()) help += "; or the variable " + o->get_envname();
    out << ".TP\n" << spelled(*o) << "\n" << roff(help) << "\n";
  }
}

}  // namespace

std::string manPage(const CLI::App& app) {
  std::ostringstream out;
  out << ".TH JRXLOG 1 \"\" \"jrxlog " << JRXLOG_VERSION << "\" \"User Commands\"\n"
      << ".SH NAME\n" << roff(app.get_description()) << "\n"
      << ".SH SYNOPSIS\n.B jrxlog\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fICOMMAND OPTIONS\\fR]\n"
      << ".SH OPTIONS\nThese stand before or after the command.\n";
  options(out, app);
  out << ".SH COMMANDS\n";
  for (const auto& c : allCommands(app)) {
    out << ".SS \"jrxlog " << roff(c.first) << "\"\n" << roff(c.second->get_description()) << "\n";
    options(out, *c.second);
    paragraph(out, c.second->get_footer());
  }
  out << ".SH NOTES\n";
  paragraph(out, app.get_footer());
  return out.str();
}

}  // namespace jrxlog
