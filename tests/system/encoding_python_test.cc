// EncodeBase64, DecodeBase64 and MD5 checked against Python's base64 and hashlib on
// random data: encoding_peer.py writes the reference texts beside each blob.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "Smisc.h"

using qbtest::S;
using qbtest::Str;

TEST(EncodingPeer, Base64AndMD5AgreeWithPython) {
    qbtest::TempDir dir("encoding");
    ASSERT_FALSE(dir.Path().empty());
    std::mt19937 rng(20240611);
    // Every length around the group and line boundaries, then a few large blobs.
    std::vector<int> lengths = {1000, 4095, 57 * 100, 57 * 100 + 1, 100000};
    for (int n = 0; n <= 160; ++n) lengths.push_back(n);
    std::vector<std::string> blobs;
    for (int n : lengths) {
        std::string blob(n, '\0');
        for (char& c : blob) c = static_cast<char>(rng() & 0xFF);
        dir.Write("blob" + std::to_string(blobs.size()) + ".bin", blob);
        blobs.push_back(blob);
    }
    std::string peer = std::string(QB_SOURCE_DIR) + "/tests/system/encoding_peer.py";
    ASSERT_EQ(qbtest::RunProgram({"/usr/bin/python3", peer, dir.Path()}).status, 0);

    for (size_t i = 0; i < blobs.size(); ++i) {
        const std::string& blob = blobs[i];
        std::string python = dir.Read("blob" + std::to_string(i) + ".b64");
        SCOPED_TRACE("length " + std::to_string(blob.size()));
        // Python encodes the empty input as nothing; ours gives one empty line.
        EXPECT_EQ(Str(EncodeBase64(S(blob))), blob.empty() ? "\r\n" : python);
        EXPECT_EQ(Str(DecodeBase64(S(python))), blob);
        EXPECT_EQ(Str(MD5(S(blob))), dir.Read("blob" + std::to_string(i) + ".md5"));
    }
}
