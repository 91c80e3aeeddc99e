#!/usr/bin/env python3
"""Reads servoprog-cli's own help (the overview and "help COMMAND" of every
command) and writes what is made from it at build time:

  --man-include FILE   help2man include: the description and one section per
                       command with its options and examples
  --completion FILE    bash completion, the table of commands and options
                       filled into the template servoprog-cli.bash.in

The help comes from the program's command table, so a new command or option
reaches the man page and the completion without anyone editing them.

Usage: cli_help.py PROGRAM [--man-include FILE] [--completion FILE --template FILE]
"""
import argparse
import re
import subprocess
import sys


class Option:
    def __init__(self, synopsis, description):
        tokens = synopsis.replace(",", " ").split()
        self.names = [t for t in tokens if t.startswith("-")]
        values = [t for t in tokens if not t.startswith("-")]
        self.value = values[-1] if values else ""
        self.description = description


class Command:
    def __init__(self, name, usage, summary):
        self.name = name
        self.usage = usage
        self.summary = summary
        self.options = []
        self.details = []

    def positional(self):
        """The words of the usage that are not options nor their values."""
        words = []
        after_option = False
        for token in self.usage.replace("[", " ").replace("]", " ").split():
            if token == "...":
                continue
            if token.startswith("-"):
                # "--flash0|--flash1" names two flags, "--port" takes the next word
                after_option = "|" not in token and any(o.value for o in self.options if token in o.names)
                continue
            if not after_option:
                words.append(token)
            after_option = False
        return words


def run(program, *args):
    result = subprocess.run([program, *args], capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit("%s %s failed (%d): %s" % (program, " ".join(args), result.returncode, result.stderr))
    return result.stdout.splitlines()


def read_overview(program):
    """Returns (intro lines, commands, closing lines) of "PROGRAM --help"."""
    lines = run(program, "--help")
    start = lines.index("Commands:")
    intro = [l for l in lines[1:start] if l.strip()]
    commands = []
    i = start + 1
    while i + 1 < len(lines) and lines[i].startswith("  ") and not lines[i].startswith("   "):
        head = lines[i].strip()
        name, _, usage = head.partition(" ")
        commands.append(Command(name, usage, lines[i + 1].strip()))
        i += 2
    closing = [l for l in lines[i:] if l.strip()]
    if not commands:
        sys.exit("no commands found in %s --help" % program)
    return intro, commands, closing


def read_command(program, command):
    lines = run(program, "help", command.name)
    i = 0
    if "Options:" in lines:
        i = lines.index("Options:") + 1
        while i + 1 < len(lines) and lines[i].startswith("  -"):
            command.options.append(Option(lines[i].strip(), lines[i + 1].strip()))
            i += 2
    else:
        i = 2
    command.details = [l for l in lines[i:] if l.strip()]


# ---------------------------------------------------------------- man page ----
def roff(text, dashes=r"(?<![\w\"-])-+"):
    """Text for a filled paragraph: escapes backslashes, keeps a leading dot
    or quote from being read as a request, and writes the dashes that begin
    a word (options such as --port) as minus signs, so they copy as typed."""
    text = text.replace("\\", "\\e")
    text = re.sub(dashes, lambda m: "\\-" * len(m.group(0)), text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def roff_usage(text):
    """A command line: every dash is a minus sign."""
    return roff(text, dashes="-")


def man_include(intro, commands, closing):
    out = ["[=DESCRIPTION]"]
    out += [roff(l) for l in intro]
    out.append(".PP")
    out.append("Each command is described below; \\fBservoprog\\-cli help\\fR \\fICOMMAND\\fR "
               "or \\fBservoprog\\-cli\\fR \\fICOMMAND\\fR \\fB\\-\\-help\\fR shows the same.")
    for line in closing:
        if line.startswith("Run "):
            continue  # the sentence above says it for the man page
        out += [".PP", roff(line)]
    out.append("[COMMANDS]")
    for command in commands:
        out.append(".SS %s" % roff_usage(command.name))
        out.append(("\\fBservoprog\\-cli %s\\fR %s" % (roff_usage(command.name), roff_usage(command.usage))).rstrip())
        out += [".PP", roff(command.summary)]
        for option in command.options:
            names = ", ".join("\\fB%s\\fR" % roff_usage(n) for n in option.names)
            value = " \\fI%s\\fR" % roff_usage(option.value) if option.value else ""
            out += [".TP", names + value, roff(option.description)]
        if command.details:
            out.append(".PP")
            for line in command.details:
                # An example unfilled, so that it is neither broken nor
                # hyphenated and runs as printed.
                out += [".nf", roff_usage(line), ".fi"] if line.startswith("Example:") else [roff(line), ".br"]
    out.append("[SEE ALSO]")
    out += [".BR servoprog (1),", ".BR servoprog\\-sim (1)"]
    return "\n".join(out) + "\n"


# -------------------------------------------------------------- completion ----
def value_kind(option):
    """How a value is completed, from the option's value word in the help
    (the rates of RATE from its description, which lists them)."""
    value = option.value
    if "|" in value:
        return "words:" + " ".join(value.split("|"))
    if value == "RATE":
        rates = []
        for rate in re.findall(r"\b\d+\b", option.description):
            if rate not in rates:
                rates.append(rate)
        return "words:" + " ".join(rates)
    if value == "DEV":
        return "device"
    if value in ("FILE", "IMAGE") or "." in value:
        return "file"
    return "none"  # numbers, rates


def bash_case_patterns(keys):
    return "|".join('"%s"' % k for k in keys)


def completion(template, commands):
    command_options = []
    value_cases = {}
    file_commands = []
    for command in commands:
        names = [n for o in command.options for n in o.names] + ["--help"]
        command_options.append('        %s) echo "%s" ;;' % (command.name, " ".join(names)))
        for option in command.options:
            if option.value:
                kind = value_kind(option)
                value_cases.setdefault(kind, []).extend("%s %s" % (command.name, n) for n in option.names)
        if command.positional():
            file_commands.append(command.name)
    value_lines = []
    for kind, keys in sorted(value_cases.items()):
        if kind.startswith("words:"):
            action = "_servoprog_cli_words \"%s\"" % kind[len("words:"):]
        else:
            action = "_servoprog_cli_%s" % kind
        value_lines.append("        %s) %s; return ;;" % (bash_case_patterns(keys), action))
    text = template
    text = text.replace("@COMMANDS@", " ".join(c.name for c in commands))
    text = text.replace("@COMMAND_OPTIONS@", "\n".join(command_options))
    text = text.replace("@OPTION_VALUES@", "\n".join(value_lines))
    text = text.replace("@FILE_COMMANDS@", "|".join(file_commands) or "''")
    leftover = re.findall(r"@[A-Z_]+@", text)
    if leftover:
        sys.exit("template placeholders left: %s" % leftover)
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("--man-include")
    parser.add_argument("--completion")
    parser.add_argument("--template")
    args = parser.parse_args()

    intro, commands, closing = read_overview(args.program)
    for command in commands:
        read_command(args.program, command)
    if args.man_include:
        with open(args.man_include, "w", encoding="utf-8") as f:
            f.write(man_include(intro, commands, closing))
    if args.completion:
        with open(args.template, encoding="utf-8") as f:
            template = f.read()
        with open(args.completion, "w", encoding="utf-8") as f:
            f.write(completion(template, commands))


if __name__ == "__main__":
    main()
