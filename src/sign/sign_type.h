// How a file is signed, decided from its extension alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The SignType values, compared by exact text.
inline constexpr char kPeType[] = "peType";
inline constexpr char kPeKernelType[] = "peKernelType";
inline constexpr char kCabType[] = "cabType";
inline constexpr char kCatType[] = "catType";
inline constexpr char kMsiType[] = "msiType";
inline constexpr char kSignerSignType[] = "signerSignType";
inline constexpr char kJavaType[] = "javaType";
inline constexpr char kPdfType[] = "pdfType";
inline constexpr char kUnsupportedType[] = "unsupportedType";

// The extensions the file picker offers.
inline constexpr char kSignableFilter[] =
    "*.exe; *.dll; *.sys; *.efi; *.ocx; *.cab; *.cat; *.msi; *.msu;";

// The SignType of a path; never fails. Only the last extension of the last path
// component counts, compared without regard to case.
std::string GetSignType(std::string_view path);

// True for the types a signer exists for; the folder walk and drops add only these.
bool IsSignable(std::string_view path);

// True when any entry ends in ".sys", in any letter case.
bool HasDriverInList(const std::vector<std::string>& paths);

}  // namespace corvane
