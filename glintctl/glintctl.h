#pragma once
// glintctl: checks whether this laptop's firmware has the LED control and drives the LED by
// hand, through Glintlamp's public interface.

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the library or the firmware reported a failure
inline constexpr int kExitUsage = 2;    // no command, an unknown command or extra arguments

// The program's entry: argv[1] is the command.
int GlintctlMain(int argc, char** argv);
