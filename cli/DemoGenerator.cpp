// SPDX-License-Identifier: MIT
#include "cli/DemoGenerator.h"

#include "store/NameLook.h"

#include <iterator>

namespace cli {

namespace {

// A given name, its ASCII spelling for user names, and the same for family names.
struct Person {
    const char* name;
    const char* ascii;
};

constexpr Person givenNames[] = {
    {"Anna", "anna"},       {"Björn", "bjorn"},     {"Chloé", "chloe"},   {"Dmitri", "dmitri"},
    {"Élodie", "elodie"},   {"Fatima", "fatima"},   {"Giulia", "giulia"}, {"Hiroshi", "hiroshi"},
    {"Ingrid", "ingrid"},   {"José", "jose"},       {"Kwame", "kwame"},   {"Łukasz", "lukasz"},
    {"Maria", "maria"},     {"Nikolai", "nikolai"}, {"Oğuz", "oguz"},     {"Priya", "priya"},
    {"Quentin", "quentin"}, {"Rūta", "ruta"},       {"Søren", "soren"},   {"Thomas", "thomas"},
    {"Uma", "uma"},         {"Václav", "vaclav"},   {"Wei", "wei"},       {"Zoë", "zoe"},
    {"Алексей", "aleksei"}, {"Ελένη", "eleni"},     {"陽菜", "hina"},     {"민준", "minjun"},
};

constexpr Person familyNames[] = {
    {"Andersson", "andersson"}, {"Bianchi", "bianchi"},
    {"Çelik", "celik"},         {"Dubois", "dubois"},
    {"Eriksen", "eriksen"},     {"Fernández", "fernandez"},
    {"García", "garcia"},       {"Hoffmann", "hoffmann"},
    {"Ivanova", "ivanova"},     {"Jensen", "jensen"},
    {"Kowalski", "kowalski"},   {"López", "lopez"},
    {"Müller", "muller"},       {"Nakamura", "nakamura"},
    {"O'Brien", "obrien"},      {"Papadopoulos", "papadopoulos"},
    {"Quintero", "quintero"},   {"Rossi", "rossi"},
    {"Schröder", "schroder"},   {"Tanaka", "tanaka"},
    {"Underwood", "underwood"}, {"Van der Berg", "vanderberg"},
    {"Wójcik", "wojcik"},       {"Østergaard", "ostergaard"},
    {"Смирнов", "smirnov"},     {"Παπαδάκη", "papadaki"},
    {"佐藤", "sato"},           {"김", "kim"},
};

constexpr const char* roles[] = {"Build server", "Mail relay",   "File server",   "Print server", "Backup target",
                                 "Test machine", "Web frontend", "Database host", "VPN gateway",  "Monitoring node"};

constexpr const char* places[] = {"Zürich", "São Paulo", "Kraków",   "Göteborg", "Reykjavík",  "Montréal",
                                  "Москва", "東京",      "Αθήνα",    "İzmir",    "Düsseldorf", "Oslo",
                                  "Lyon",   "Porto",     "Helsinki", "Nairobi"};

constexpr const char* notes[] = {
    "Rebooted after the kernel update.",
    "Owner asked for a new password; done.",
    "Disk at 80 %; \"cleanup\" planned.",
    "Shared with the night shift, handle with care.",
    "Certificate renewed; next check in spring.",
    "Firewall rules: ports 22, 443 only.",
    "Migrated from the old rack — verify backups.",
    "Contact: service desk, ext. 4711.",
};

constexpr const char* domains[] = {"updates.example.com", "mirror.example.net", "dl.example.org", "patches.example.eu"};

// A permutation of the numbers below 2^20, chosen by `key`: four rounds of a Feistel network over
// two halves of ten bits.
std::uint32_t shuffled(std::uint32_t value, std::uint64_t key) {
    std::uint32_t left = value >> 10;
    std::uint32_t right = value & 0x3FF;
    for (int round = 0; round < 4; ++round) {
        std::uint64_t mixed = (right ^ (key >> (round * 16))) * 0x9E3779B97F4A7C15ULL;
        mixed ^= mixed >> 29;
        const std::uint32_t next = left ^ static_cast<std::uint32_t>(mixed & 0x3FF);
        left = right;
        right = next;
    }
    return (left << 10) | right;
}

constexpr char passwordCharacters[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789!#$%&*+-=?@_";

} // namespace

DemoGenerator::DemoGenerator(std::uint64_t seed, bool withDuplicates)
    : m_state(seed), m_withDuplicates(withDuplicates) {}

// SplitMix64: small, fast, and the same sequence everywhere.
std::uint64_t DemoGenerator::random() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::string DemoGenerator::letters(const std::string& given, const std::string& family) {
    std::string user;
    switch (below(4)) {
    case 0:
        user = given.substr(0, 1) + family;
        break;
    case 1:
        user = given + "." + family;
        break;
    case 2:
        user = family + "_" + given.substr(0, 1);
        break;
    default:
        user = given + family.substr(0, 1);
        break;
    }
    if (user.size() > 9)
        user.resize(9);
    return user;
}

std::string DemoGenerator::userName(const std::string& given, const std::string& family) {
    std::string user = letters(given, family);
    // A number of up to six digits keeps chance repeats rare (under 0.1% of a million accounts)
    // while keeping the names readable; ASCII only, so 15 bytes is 15 characters.
    user += std::to_string(below(1000000));
    return user;
}

// The letters and a number of six digits, the first of them 2 to 9. The letters' skeleton holds
// none of those, so it ends where the number's begins: two names look alike only when their
// letters look alike and their numbers are the same. The numbers of one skeleton of letters are
// the counts of its uses shuffled within the 800,000 numbers (a permutation of the numbers below
// 2^20, applied again until it lands below 800,000), so they repeat only after that many uses.
std::string DemoGenerator::distinctUserName(const std::string& given, const std::string& family) {
    std::string user = letters(given, family);
    auto [known, added] = m_skeletons.try_emplace(user);
    if (added)
        known->second = dao::NameLook::skeleton(user);
    auto [use, first] = m_letterUses.try_emplace(known->second);
    if (first)
        use->second.key = random();
    std::uint32_t number = static_cast<std::uint32_t>(use->second.count++ % 800000);
    do
        number = shuffled(number, use->second.key);
    while (number >= 800000);
    return user + std::to_string(200000 + number);
}

std::string DemoGenerator::password() {
    const std::size_t length = 8 + below(8); // 8 to 15
    std::string text(length, ' ');
    for (char& c : text)
        c = passwordCharacters[below(sizeof passwordCharacters - 1)];
    return text;
}

std::string DemoGenerator::description(const std::string& given) {
    // Under 130 characters at most: well within the 250 allowed.
    std::string text = std::string(pick(roles)) + " in " + pick(places) + ".";
    if (chance(50))
        text += std::string("\r\n") + "Looked after by " + given + ".";
    if (chance(40))
        text += std::string("\r\n") + pick(notes);
    return text;
}

void DemoGenerator::next(Account& account) {
    const Person& given = givenNames[below(std::size(givenNames))];
    const Person& family = familyNames[below(std::size(familyNames))];

    std::string user;
    if (!m_withDuplicates) {
        user = distinctUserName(given.ascii, family.ascii);
    } else if (!m_recentUsers.empty() && chance(1) && below(5) == 0) {
        user = m_recentUsers[below(m_recentUsers.size())]; // about one account in 500
    } else {
        user = userName(given.ascii, family.ascii);
        if (m_recentUsers.size() < 64)
            m_recentUsers.push_back(user);
        else
            m_recentUsers[below(m_recentUsers.size())] = user;
    }

    account[0] = dao::Variant(std::move(user));
    account[1] = dao::Variant(password());
    account[2] = dao::Variant(std::string(given.name) + " " + family.name);
    account[3] = chance(5) ? dao::Variant() : dao::Variant(description(given.name));
    if (chance(70))
        account[4] = dao::Variant(std::string("https://") + pick(domains) + "/" + given.ascii + "/" +
                                  std::to_string(below(1000)));
    else
        account[4] = chance(50) ? dao::Variant() : dao::Variant(std::string());
    account[5] = dao::Variant(chance(30));
    account[6] = dao::Variant(static_cast<int>(1 + below(31))); // a day of the month
    account[7] = dao::Variant(static_cast<int>(below(24)));     // an hour of the day
}

} // namespace cli
