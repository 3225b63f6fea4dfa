#pragma once
// The question about an SSH host key found in no known_hosts file: host, key type and fingerprint, answered with
// "Accept once", "Accept and remember" or "Cancel". Cancel is the default button, so Enter or Escape alone never
// trusts a key. A key that came in a host certificate shows the certificate's ID, serial and CA beside it.
#include <QDialog>
#include <QString>
#include <string_view>

#include "ssh/services.h"

class host_key_dialog : public QDialog {
public:
    // `explanation` is the question text the SSH core builds; `host` as the files name it.
    host_key_dialog(const QString& explanation, const QString& host, const QString& type, const QString& fingerprint,
                    QWidget* parent = nullptr, const ssh::host_certificate_facts* certificate = nullptr);
    ssh::host_key_answer answer() const { return answer_; }

private:
    ssh::host_key_answer answer_ = ssh::host_key_answer::cancel;
};

ssh::host_key_answer ask_host_key(std::string_view explanation, std::string_view host, std::string_view type,
                                  std::string_view fingerprint, QWidget* parent = nullptr,
                                  const ssh::host_certificate_facts* certificate = nullptr);
