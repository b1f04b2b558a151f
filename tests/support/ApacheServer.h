#pragma once

// Apache httpd (Debian package apache2) as a test server on a free loopback
// port, with everything of its own in a temporary folder:
//   /basic/NAME   the file, behind Basic authentication
//   /digest/NAME  the same file, behind Digest authentication (MD5, qop=auth:
//                 mod_auth_digest offers nothing else)
//   /dir/         a plain folder with an index.html; /dir answers 301 with a
//                 Location built from the request's Host header
// The password files are written here: the htpasswd file by Apache's own
// htpasswd (bcrypt), the htdigest file as user:realm:md5hex(user:realm:password)
// with md5sum. Linux only.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "RunProcess.h"
#include "ServerProcess.h"
#include "TempDir.h"

namespace testsupport {

class ApacheServer {
public:
    static constexpr const char* kProgram = "/usr/sbin/apache2";
    static constexpr const char* kModules = "/usr/lib/apache2/modules";
    static constexpr const char* kHtpasswd = "/usr/bin/htpasswd";

    struct Options {
        std::string user = "nilo";
        std::string password = "secret";
        std::string realm = "nilo-test";
        std::string fileName = "file.bin";
        std::string fileBytes;
        std::string indexBytes = "<html><body>index</body></html>\n";
    };

    explicit ApacheServer(const Options& options) {
        if (::access(kProgram, X_OK) != 0 || ::access(kHtpasswd, X_OK) != 0) {
            failure = "Apache httpd is not installed (tools/install-deps.sh installs apache2)";
            return;
        }
        // Started as root, Apache serves from worker processes that run as
        // www-data: they must be able to read the folder. As another user it
        // stays that user, and the folder may stay private.
        if (::geteuid() == 0) ::chmod(dir.path.c_str(), 0755);
        for (const char* folder : {"www", "www/basic", "www/digest", "www/dir", "run"})
            std::filesystem::create_directory(dir / folder);
        writeFile(dir / ("www/basic/" + options.fileName), options.fileBytes);
        writeFile(dir / ("www/digest/" + options.fileName), options.fileBytes);
        writeFile(dir / "www/dir/index.html", options.indexBytes);

        const ProcessResult htpasswd = RunProcess(
            {kHtpasswd, "-c", "-b", "-B", dir / "htpasswd", options.user, options.password}, dir.path);
        if (!htpasswd.finished || htpasswd.exitCode != 0) {
            failure = "htpasswd failed: " + htpasswd.err;
            return;
        }
        const std::string a1 = options.user + ":" + options.realm + ":" + options.password;
        const ProcessResult md5 =
            RunProcess({"/bin/sh", "-c", "printf '%s' \"$1\" | md5sum", "sh", a1}, dir.path);
        if (!md5.finished || md5.exitCode != 0 || md5.out.size() < 32) {
            failure = "md5sum failed: " + md5.err;
            return;
        }
        writeFile(dir / "htdigest", options.user + ":" + options.realm + ":" + md5.out.substr(0, 32) + "\n");
        if (::geteuid() == 0) {
            // Readable for the workers whatever the umask.
            for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path))
                ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
        }

        process = std::make_unique<ServerProcess>(
            [&](int port) {
                writeFile(dir / "httpd.conf", Config(options, port));
                return std::vector<std::string>{kProgram, "-f", dir / "httpd.conf", "-DFOREGROUND"};
            },
            dir / "output.log");
        if (!process->Running()) failure = process->Failure() + "\nerror log:\n" + readFile(dir / "error.log");
    }

    bool Running() const { return process && process->Running(); }
    const std::string& Failure() const { return failure; }
    int Port() const { return process ? process->Port() : 0; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port()) + path; }
    std::string ErrorLog() const { return readFile(dir / "error.log"); }

private:
    std::string Config(const Options& o, int port) const {
        const std::string d = dir.path;
        std::string c;
        c += "ServerRoot " + d + "\n";
        c += "PidFile " + d + "/run/httpd.pid\n";
        c += "DefaultRuntimeDir " + d + "/run\n";
        c += "Mutex file:" + d + "/run default\n";
        c += "ErrorLog " + d + "/error.log\n";
        c += "LogLevel warn\n";
        c += "Listen 127.0.0.1:" + std::to_string(port) + "\n";
        c += "ServerName 127.0.0.1\n";
        // Redirects such as /dir -> /dir/ name the host and port the client
        // asked for.
        c += "UseCanonicalName Off\n";
        for (const char* module : {"mpm_prefork", "authn_core", "authn_file", "authz_core", "authz_user", "auth_basic",
                                   "auth_digest", "dir", "mime"})
            c += std::string("LoadModule ") + module + "_module " + kModules + "/mod_" + module + ".so\n";
        if (::geteuid() == 0) c += "User www-data\nGroup www-data\n";
        c += "StartServers 1\nMinSpareServers 1\nMaxSpareServers 2\nMaxRequestWorkers 8\n";
        c += "TypesConfig /dev/null\n";
        c += "DocumentRoot " + d + "/www\n";
        c += "DirectoryIndex index.html\n";
        c += "<Directory " + d + "/www>\n  Require all granted\n</Directory>\n";
        c += "<Location /basic/>\n  AuthType Basic\n  AuthName \"" + o.realm +
             "\"\n  AuthBasicProvider file\n  AuthUserFile " + d + "/htpasswd\n  Require valid-user\n</Location>\n";
        c += "<Location /digest/>\n  AuthType Digest\n  AuthName \"" + o.realm +
             "\"\n  AuthDigestProvider file\n  AuthUserFile " + d + "/htdigest\n  Require valid-user\n</Location>\n";
        return c;
    }

    TempDir dir;
    std::unique_ptr<ServerProcess> process;
    std::string failure;
};

}  // namespace testsupport
