#include "platform/logon.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef QM_HAVE_PAM
#include <security/pam_appl.h>
#endif

namespace qm::platform {

namespace {

#ifdef QM_HAVE_PAM
// Answers every prompt that hides its input with the password; nothing else.
int Conversation(int count, const pam_message** messages, pam_response** responses, void* data) {
    if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
    auto* replies = static_cast<pam_response*>(std::calloc(size_t(count), sizeof(pam_response)));
    if (!replies) return PAM_BUF_ERR;
    const char* password = static_cast<const char*>(data);
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) replies[i].resp = strdup(password);
    }
    *responses = replies;
    return PAM_SUCCESS;
}

int Authenticate(const std::string& account, const std::string& password) {
    pam_conv conv{Conversation, const_cast<char*>(password.c_str())};
    pam_handle_t* handle = nullptr;
    if (pam_start("quillmark", account.c_str(), &conv, &handle) != PAM_SUCCESS) return EACCES;
    int rc = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (rc == PAM_SUCCESS) rc = pam_acct_mgmt(handle, PAM_SILENT);
    pam_end(handle, rc);
    return rc == PAM_SUCCESS ? 0 : EACCES;
}
#endif

}  // namespace

int RelaunchAsUser(const std::string& domain, const std::string& user, const std::string& password,
                   const std::string& executable) {
#ifndef QM_HAVE_PAM
    (void)domain; (void)user; (void)password; (void)executable;
    return ENOSYS;
#else
    if (user.empty()) return EINVAL;
    if (geteuid() != 0) return EPERM;
    // "." names the local machine; another domain is passed on as the
    // DOMAIN\user form that directory-joined systems use.
    const std::string account = (domain.empty() || domain == ".") ? user : domain + "\\" + user;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(account.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return ENOENT;
    if (int rc = Authenticate(account, password)) return rc;

    const uid_t uid = found->pw_uid;
    const gid_t gid = found->pw_gid;
    const std::string home = found->pw_dir ? found->pw_dir : "/";
    const std::string shell = found->pw_shell ? found->pw_shell : "/bin/sh";
    if (initgroups(account.c_str(), gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return errno ? errno : EPERM;
    setenv("HOME", home.c_str(), 1);
    setenv("USER", account.c_str(), 1);
    setenv("LOGNAME", account.c_str(), 1);
    setenv("SHELL", shell.c_str(), 1);
    char* const args[] = {const_cast<char*>(executable.c_str()), nullptr};
    execv(executable.c_str(), args);
    return errno ? errno : ENOEXEC;
#endif
}

void ScrubArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i]) std::memset(argv[i], 0, std::strlen(argv[i]));
    }
}

}  // namespace qm::platform
