#include "Command.h"

namespace stravex::cli {

void AddCommand(CLI::App& app, int& exitCode, std::shared_ptr<tCommand> command) {
  CLI::App* cmd = app.add_subcommand(command->Name(), command->Description());
  command->Declare(*cmd);
  cmd->preparse_callback([command](std::size_t) { command->Reset(); });
  cmd->parse_complete_callback([cmd, command] { command->Check(*cmd); });
  cmd->callback([cmd, command, &exitCode] { exitCode = command->Run(*cmd); });
}

bool Given(const CLI::App& cmd, const char* option) {
  const CLI::Option* opt = cmd.get_option_no_throw(option);
  return opt && opt->count() > 0;
}

} // namespace stravex::cli
