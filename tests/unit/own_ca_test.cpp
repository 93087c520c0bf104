#include "cert/own_ca.h"

#include <gtest/gtest.h>

#include "base/status.h"
#include "cert/builtin_certs.h"
#include "crypto/x509_names.h"
#include "fixtures/test_pki.h"

namespace corvane {
namespace {

using test::Authority;
using test::CertSpec;
using test::Issue;
using test::KeyedCert;

TEST(OwnCa, RecognisesTheHierarchyByKeyNotByName) {
  KeyedCert rootA = Authority("root-a");
  KeyedCert rootB = Authority("root-b");
  KeyedCert issuingA = Authority("issuing-a1");
  KeyedCert issuingB = Authority("issuing-b3");
  KeyedCert impostor = test::NewRoot(kRootAName);

  struct Case {
    const char* name;
    std::vector<const X509*> chain;
    bool ownCaIssued;
    bool chineseNamedRoot;
  } cases[] = {
      {"root A", {issuingA.cert.get(), rootA.cert.get()}, true, false},
      {"root B", {issuingB.cert.get(), rootB.cert.get()}, true, true},
      {"root A's name with another key", {impostor.cert.get()}, false, false},
  };
  KeyedCert leaf = Issue(CertSpec{}, &issuingA);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChainList chain;
    for (const X509* cert : c.chain) chain.push_back(MakeChainCert(cert));
    OwnCaFlags flags = RecognizeOwnCa(chain, leaf.cert.get());
    EXPECT_EQ(flags.ownCaIssued, c.ownCaIssued);
    EXPECT_EQ(flags.chineseNamedRoot, c.chineseNamedRoot);
  }
}

TEST(OwnCa, WithoutChainTheIssuingAuthorityAndOwnNameDecide) {
  KeyedCert issuingB = Authority("issuing-b3");
  KeyedCert foreign = test::NewRoot("Foreign CA");
  CertSpec chinese;
  chinese.commonName = "柯文测试有限公司";
  struct Case {
    const char* name;
    const KeyedCert* issuer;
    CertSpec spec;
    bool ownCaIssued;
    bool chineseNamedRoot;
  } cases[] = {
      {"issuing authority, Latin name", &issuingB, CertSpec{}, true, false},
      {"issuing authority, Chinese name", &issuingB, chinese, true, true},
      {"other authority, Chinese name", &foreign, chinese, false, true},
      {"other authority, Latin name", &foreign, CertSpec{}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyedCert leaf = Issue(c.spec, c.issuer);
    OwnCaFlags flags = RecognizeOwnCa({}, leaf.cert.get());
    EXPECT_EQ(flags.ownCaIssued, c.ownCaIssued);
    EXPECT_EQ(flags.chineseNamedRoot, c.chineseNamedRoot);
  }
  CertSpec noIds;
  noIds.keyIdentifiers = false;
  KeyedCert bare = Issue(noIds, &foreign);
  EXPECT_THROW(RecognizeOwnCa({}, bare.cert.get()), ExceptionEx);
}

TEST(BuiltinCerts, EachRoleHasTheRightSubjectKeyAndIssuer) {
  KeyedCert rootA = Authority("root-a");
  KeyedCert rootB = Authority("root-b");
  KeyedCert partner = Authority("partner-root");
  struct Case {
    int id;
    const X509* sameKeyAs;
    const char* issuer;
  } cases[] = {
      {kRootASelfSigned, rootA.cert.get(), kRootAName},
      {kRootBSelfSigned, rootB.cert.get(), kRootBName},
      {kRootACrossSigned, rootA.cert.get(), "Northgate Trust Root CA"},
      {kRootBCrossSigned, rootB.cert.get(), "Northgate Trust Root CA"},
      {kPartnerKernelCross, partner.cert.get(), "Microsoft Code Verification Root"},
      {kRootAKernelCross, rootA.cert.get(), "Microsoft Code Verification Root"},
      {kRootBKernelCross, rootB.cert.get(), "Microsoft Code Verification Root"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    X509Ptr cert = LoadBuiltinCert(c.id);
    EXPECT_EQ(SubjectDisplayName(cert.get()), SubjectDisplayName(c.sameKeyAs));
    EXPECT_EQ(SubjectKeyId(cert.get()), SubjectKeyId(c.sameKeyAs));
    EXPECT_EQ(IssuerDisplayName(cert.get()), c.issuer);
    EXPECT_FALSE(X509_cmp_current_time(X509_get0_notAfter(cert.get())) < 0) << "expired";
  }
  EXPECT_EQ(X509_get_signature_nid(LoadBuiltinCert(kRootASelfSigned).get()),
            NID_sha1WithRSAEncryption);
  EXPECT_EQ(X509_get_signature_nid(LoadBuiltinCert(kRootBSelfSigned).get()),
            NID_sha256WithRSAEncryption);
  EXPECT_THROW(LoadBuiltinCert(140), ExceptionEx);
}

}  // namespace
}  // namespace corvane
