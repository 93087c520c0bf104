// The commands of corvanecode-cli; each takes the whole argv (argv[1] is the command).
#pragma once

namespace corvane::cli {

int CabCommand(int argc, char** argv);
int CertInfoCommand(int argc, char** argv);
int SignCommand(int argc, char** argv);
int VerifyCommand(int argc, char** argv);

}  // namespace corvane::cli
