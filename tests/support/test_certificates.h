#pragma once
// Certificates for the TLS tests, made with the openssl command in a temp
// folder: a CA, a server certificate it signed for localhost, 127.0.0.1 and
// ::1, a client certificate it signed, and a second CA that signed neither.
// Elliptic-curve keys, so making them takes a fraction of a second.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace qm::testing {

class TestCertificates {
public:
    static constexpr const char* kOpenssl = "/usr/bin/openssl";
    static bool Installed() { return ::access(kOpenssl, X_OK) == 0; }

    TestCertificates() {
        ok_ = Installed() && MakeCa("ca", "Quillmark Test CA") && MakeCa("other-ca", "Unrelated CA") &&
              MakeLeaf("server", "localhost", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1") &&
              MakeLeaf("client", "sender.example", "extendedKeyUsage=clientAuth");
    }
    bool Ok() const { return ok_; }
    const std::filesystem::path& Folder() const { return dir_.path(); }
    std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }
    std::string Ca() const { return Path("ca.pem"); }
    std::string OtherCa() const { return Path("other-ca.pem"); }
    std::string ServerCert() const { return Path("server.pem"); }
    std::string ServerKey() const { return Path("server.key"); }
    std::string ClientCert() const { return Path("client.pem"); }
    std::string ClientKey() const { return Path("client.key"); }
    std::string Log() const { return Path("openssl.txt"); }

private:
    bool Run(std::vector<std::string> args) {
        args.insert(args.begin(), kOpenssl);
        ChildProcess openssl(std::move(args), dir_.path() / "openssl.txt");
        return openssl.Exit(std::chrono::seconds(30)) == 0;
    }
    std::vector<std::string> NewKey(const std::string& name) const {
        return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", Path(name + ".key"),
                "-out", Path(name + ".pem"), "-days", "2"};
    }
    bool MakeCa(const std::string& name, const std::string& cn) {
        std::vector<std::string> args = {"req", "-x509", "-subj", "/CN=" + cn};
        for (std::string& a : NewKey(name)) args.push_back(std::move(a));
        return Run(std::move(args));
    }
    bool MakeLeaf(const std::string& name, const std::string& cn, const std::string& extension) {
        std::vector<std::string> args = {"req", "-x509", "-CA", Ca(), "-CAkey", Path("ca.key"), "-subj", "/CN=" + cn,
                                         "-addext", "basicConstraints=critical,CA:FALSE", "-addext", extension};
        for (std::string& a : NewKey(name)) args.push_back(std::move(a));
        return Run(std::move(args));
    }

    TempDir dir_{"qm-certs"};
    bool ok_ = false;
};

}  // namespace qm::testing
