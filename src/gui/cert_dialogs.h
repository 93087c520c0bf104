// The dialogs of the certificate choice: the store selection over the token store, the
// certificate viewer and the token PIN prompt.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

#include "cert/chain.h"
#include "cert/store_selection.h"

class QTreeWidget;
class QLineEdit;

namespace corvane::gui {

// The selectable certificates of the store, columns "Issued to", "Issued by", "Serial number"
// and "Token". OK gives the chosen certificate's identity.
class StoreSelectDialog : public QDialog {
  Q_OBJECT

 public:
  // `view` shows one entry's certificate.
  StoreSelectDialog(std::vector<StoreCertEntry> entries,
                    std::function<void(const StoreCertEntry&)> view, QWidget* owner);
  std::optional<CertIdentity> chosen() const;

 private:
  std::vector<StoreCertEntry> entries_;
  QTreeWidget* list_;
};

// What the viewer shows: the certificate's details and its chain, leaf first.
struct CertificateView {
  CertificateDetails details;
  std::string sha256Thumbprint;
  std::vector<std::string> chainNames;  // simple display names, leaf to root
};

// Details of `cert`, with the chain list's names after the certificate's own.
CertificateView MakeCertificateView(const X509* cert, const ChainList& chain);

class CertViewer : public QDialog {
  Q_OBJECT

 public:
  CertViewer(const CertificateView& view, QWidget* owner);
};

class PinDialog : public QDialog {
  Q_OBJECT

 public:
  PinDialog(const QString& tokenLabel, QWidget* owner);
  QString pin() const;

 private:
  QLineEdit* edPin_;
};

}  // namespace corvane::gui
