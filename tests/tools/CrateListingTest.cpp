// The list of crates and modules as a reader and a script get it, whatever
// texts the crate system hands over.
#include "CrateListing.h"

#include "ksnerror.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using tool::CrateListing;

CrateListing OddListing()
{
    CrateListing listing;
    listing.Crates.push_back({"KSN\x01-7", 99, "UNKNOWN", {{16, 0x3030}}});
    listing.Crates.push_back({"KSN2", 10, "KSN-P2", {}});
    listing.Modules.push_back({"KSN\x01-7", 16, KSN_OK, "48\xff\xfe", "K\x1b[2J", 65535});
    listing.Modules.push_back({"KSN2", 4, KSN_ERR_BUSY, "", "", 0});
    return listing;
}

TEST(CrateListing, OddTextsStayReadableAndTheJsonValid)
{
    const CrateListing listing = OddListing();
    const std::string text = tool::ListingText(listing);
    EXPECT_EQ(text.find('\x01'), std::string::npos) << "a control character on the terminal";
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "a control character on the terminal";
    EXPECT_NE(text.find("KSN?-7  99    UNKNOWN  16:0x3030\n"), std::string::npos) << text;
    EXPECT_NE(text.find("KSN2    10    KSN-P2   -\n"), std::string::npos) << text;
    EXPECT_NE(text.find("- (cannot be opened: KSN_ERR_BUSY)"), std::string::npos) << text;

    // Bytes that are not UTF-8 do not break the document.
    const nlohmann::json json = nlohmann::json::parse(tool::ListingJson(listing));
    EXPECT_EQ(json["crates"][0]["serial"], "KSN\x01-7");
    EXPECT_EQ(json["crates"][0]["type"], 99);
    EXPECT_EQ(json["crates"][1]["slots"], nlohmann::json::array());
    EXPECT_EQ(json["modules"][0]["firmware"], 65535);
    EXPECT_EQ(json["modules"][0]["serial"], "48\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(json["modules"][0].count("error"), 0u);
    EXPECT_EQ(json["modules"][1]["error"], "KSN_ERR_BUSY");
    EXPECT_TRUE(json["modules"][1]["serial"].is_null());
    EXPECT_TRUE(json["modules"][1]["firmware"].is_null());
}

TEST(CrateListing, AnEmptyServerSaysSo)
{
    const CrateListing none;
    EXPECT_EQ(tool::ListingText(none), "No crates.\n\nNo KSN48 module.\n");
    EXPECT_EQ(nlohmann::json::parse(tool::ListingJson(none)),
              nlohmann::json::parse(R"({"crates": [], "modules": []})"));
}

}  // namespace
