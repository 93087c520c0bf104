// The commands of corvanecode-cli; each takes the whole argv (argv[1] is the command).
#pragma once

namespace corvane::cli {

int CatCommand(int argc, char** argv);
int CabCommand(int argc, char** argv);
int CertInfoCommand(int argc, char** argv);
int SignCommand(int argc, char** argv);
int VerifyCommand(int argc, char** argv);
int CsrCommand(int argc, char** argv);
int CheckCsrCommand(int argc, char** argv);
int PfxCommand(int argc, char** argv);
int SpcCommand(int argc, char** argv);
int StoreCommand(int argc, char** argv);
int InstallCommand(int argc, char** argv);
int CheckUpdateCommand(int argc, char** argv);
int UpdateCommand(int argc, char** argv);
int FeedbackCommand(int argc, char** argv);
int ExtractSignatureCommand(int argc, char** argv);
int AttachSignatureCommand(int argc, char** argv);
int RemoveSignatureCommand(int argc, char** argv);

}  // namespace corvane::cli
