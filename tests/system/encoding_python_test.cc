// EncodeBase64, DecodeBase64 and MD5 checked against Python's base64 and hashlib on
// random data: encoding_peer.py computes the reference texts and decodes ours.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Smisc.h"
#include "TempDir.h"

namespace {

SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }
std::string Std(const SString& s) { return std::string(s.Chars(), s.Length()); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int RunPeer(const std::string& dir) {
    std::string command = "/usr/bin/python3 " + std::string(QB_SOURCE_DIR) +
                          "/tests/system/encoding_peer.py '" + dir + "'";
    return std::system(command.c_str());
}

TEST(EncodingPeer, Base64AndMD5AgreeWithPython) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::mt19937 rng(20240611);
    // Every length around the group and line boundaries, then a few large blobs.
    std::vector<int> lengths;
    for (int n = 0; n <= 160; ++n) lengths.push_back(n);
    for (int n : {1000, 4095, 57 * 100, 57 * 100 + 1, 100000}) lengths.push_back(n);
    std::vector<std::string> blobs;
    for (size_t i = 0; i < lengths.size(); ++i) {
        std::string blob(lengths[i], '\0');
        for (char& c : blob) c = static_cast<char>(rng() & 0xFF);
        blobs.push_back(blob);
        dir.Write("blob" + std::to_string(i) + ".bin", blob);
        if (!blob.empty()) {
            dir.Write("blob" + std::to_string(i) + ".ours", Std(EncodeBase64(Bytes(blob))));
        }
    }
    ASSERT_EQ(RunPeer(dir.Path()), 0);

    for (size_t i = 0; i < blobs.size(); ++i) {
        const std::string& blob = blobs[i];
        std::string stem = dir.Path("blob" + std::to_string(i));
        std::string python = ReadFile(stem + ".b64");
        // Python encodes the empty input as nothing; ours gives one empty line.
        std::string expected = blob.empty() ? "\r\n" : python;
        EXPECT_EQ(Std(EncodeBase64(Bytes(blob))), expected) << "length " << blob.size();
        EXPECT_EQ(Std(DecodeBase64(Bytes(python))), blob) << "length " << blob.size();
        EXPECT_EQ(Std(MD5(Bytes(blob))), ReadFile(stem + ".md5")) << "length " << blob.size();
        if (!blob.empty()) {
            EXPECT_EQ(ReadFile(stem + ".back"), blob) << "length " << blob.size();
        }
    }
}

}  // namespace
