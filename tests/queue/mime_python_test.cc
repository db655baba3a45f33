// SMIME against an independent peer: mime_peer.py builds multipart, Base64,
// quoted-printable, nested and non-MIME messages with Python's email package and
// records the part types and decoded bodies its own parser sees; SMIME must recover
// the same.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SMessage.h"
#include "SMimeBody.h"
#include "SNamedLists.h"

namespace {

SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }
std::string Std(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class PeerDir {
public:
    PeerDir() {
        std::filesystem::create_directories(QB_TEST_TMP);
        std::string pattern = std::string(QB_TEST_TMP) + "/mime-peer-XXXXXX";
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~PeerDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// Splits a message at its first empty line and reads the header through the field
// format, as a header file would be read.
SMIME ParseMessage(const std::string& message) {
    size_t split = message.find("\r\n\r\n");
    std::string head = message.substr(0, split + 2);
    std::string body = split == std::string::npos ? "" : message.substr(split + 4);
    SHeader header;
    Bytes(head) >> header;
    return SMIME(header, Bytes(body));
}

TEST(MimePeer, RecoversPythonPartsAndBodies) {
    PeerDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string command = "/usr/bin/python3 " + std::string(QB_SOURCE_DIR) +
                          "/tests/queue/mime_peer.py '" + dir.path + "' 1997";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int count = std::atoi(ReadFile(dir.path + "/count").c_str());
    ASSERT_GT(count, 40);
    int multiparts = 0, base64Parts = 0;
    for (int k = 0; k < count; ++k) {
        std::string stem = dir.path + "/" + std::to_string(k);
        SCOPED_TRACE("case " + stem);
        SMIME mime = ParseMessage(ReadFile(stem + ".eml"));
        std::string top = ReadFile(stem + ".top");
        std::vector<std::string> parts = Lines(ReadFile(stem + ".parts"));
        if (top.back() == '0') {  // no MIME-Version
            EXPECT_EQ(mime.isMime, 0);
            EXPECT_EQ(Std(mime.type + "/" + mime.subtype), "text/plain");
            ASSERT_EQ(mime.bodies.Count(), 1);
            EXPECT_EQ(Std(mime.bodies.Get(0)), ReadFile(stem + ".body0"));
            continue;
        }
        EXPECT_EQ(mime.isMime, 1);
        EXPECT_EQ(Std(mime.type + "/" + mime.subtype + "/1"), top);
        if (parts.empty()) {
            ASSERT_EQ(mime.bodies.Count(), 1);
            EXPECT_EQ(mime.partTypes.Count(), 0);
            EXPECT_EQ(Std(mime.bodies.Get(0)), ReadFile(stem + ".body0"));
            continue;
        }
        ++multiparts;
        ASSERT_EQ(mime.partTypes.Count(), static_cast<int>(parts.size()));
        ASSERT_EQ(mime.bodies.Count(), static_cast<int>(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) {
            SString described = mime.partTypes.Get(i) + "/" + mime.partSubtypes.Get(i) + "/" +
                                mime.partEncodings.Get(i);
            std::string expected = parts[i].substr(0, parts[i].size() - 2);
            EXPECT_EQ(Std(described), expected) << "part " << i;
            if (parts[i].back() == '1') {
                EXPECT_EQ(Std(mime.bodies.Get(i)), ReadFile(stem + ".body" + std::to_string(i)))
                    << "part " << i;
            } else {
                // A nested multipart stays raw: its own delimiters are in the body.
                EXPECT_NE(Std(mime.bodies.Get(i)).find("--="), std::string::npos);
            }
            if (mime.partEncodings.Get(i) == "base64") ++base64Parts;
        }
    }
    // The generated set must really exercise multipart and Base64 parsing.
    EXPECT_GT(multiparts, 20);
    EXPECT_GT(base64Parts, 20);
}

// Our text form read back by Python: the parts it finds must be the ones we wrote.
TEST(MimePeer, PythonReadsOurTextForm) {
    PeerDir dir;
    ASSERT_FALSE(dir.path.empty());
    SMIME mime;
    mime.type = "multipart";
    mime.subtype = "mixed";
    mime.boundary = "=_b_(12)";
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    const char* rows[][3] = {{"text", "plain", "7bit"}, {"application", "octet-stream", "base64"},
                             {"text", "html", ""}};
    std::string bodies[] = {"first part\r\nline two\r\n", binary, "<p>third</p>"};
    for (int i = 0; i < 3; ++i) {
        mime.partTypes.Push(rows[i][0]);
        mime.partSubtypes.Push(rows[i][1]);
        mime.partEncodings.Push(rows[i][2]);
        mime.bodies.Push(Bytes(bodies[i]));
    }
    std::string message = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" +
                          Std(mime.boundary) + "\"\r\n\r\n" + Std(SString(mime));
    std::ofstream(dir.path + "/ours.eml", std::ios::binary) << message;
    const char* script =
        "import email, email.policy, sys\n"
        "m = email.message_from_bytes(open(sys.argv[1] + '/ours.eml', 'rb').read(),"
        " policy=email.policy.SMTP)\n"
        "for i, p in enumerate(m.iter_parts()):\n"
        "    open(sys.argv[1] + '/type%d' % i, 'w').write(p.get_content_type())\n"
        "    b = p.get_payload(decode=True)\n"
        "    open(sys.argv[1] + '/body%d' % i, 'wb').write(b)\n";
    std::ofstream(dir.path + "/read.py") << script;
    std::string command = "/usr/bin/python3 '" + dir.path + "/read.py' '" + dir.path + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(dir.path + "/type0"), "text/plain");
    EXPECT_EQ(ReadFile(dir.path + "/type1"), "application/octet-stream");
    EXPECT_EQ(ReadFile(dir.path + "/type2"), "text/html");
    // The line break before each delimiter belongs to the delimiter: a body ending
    // in CR LF is read back without it, and one that did not end in a line break got
    // one added, which Python then drops again.
    EXPECT_EQ(ReadFile(dir.path + "/body0"), "first part\r\nline two");
    EXPECT_EQ(ReadFile(dir.path + "/body1"), binary);
    EXPECT_EQ(ReadFile(dir.path + "/body2"), bodies[2]);
}

}  // namespace
