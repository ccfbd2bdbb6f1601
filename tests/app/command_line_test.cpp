// The command line: each rule an argument can keep or break, and what the
// start, the usage or the refusal then carries.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

// The verdict and what it carries, as one line: "start 57166 close",
// "start secure <url> at <site>", "refused bad_number [0]".
std::string told(const CommandLine& c) {
    static const char* const verdicts[] = {"start", "usage", "refused"};
    static const char* const faults[] = {"none",          "not_printable",  "bad_number",
                                         "second_number", "unknown_option", "repeated_option",
                                         "bad_source"};
    const StartChoices& s = c.choices;
    std::string t = verdicts[int(c.verdict)];
    if (s.catalogue_number) t.append(" ").append(std::to_string(s.catalogue_number));
    if (s.unattended) t += " close";
    if (s.has_source)
        t += std::string(s.source_secure ? " secure " : " plain ") + s.source_url + " at " +
             s.source_site;
    if (c.fault != CommandFault::none) t += std::string(" ") + faults[int(c.fault)];
    if (c.echo[0]) t += std::string(" [") + c.echo + "]";
    return t;
}

TEST(CommandLine, EachRuleKeptOrBroken) {
    const std::wstring long_label = L"/source:https://" + std::wstring(64, L'a') + L".org/";
    // 63-character labels make a 253-character host, the longest there is.
    const std::string label = "A" + std::string(60, '0') + "-Z";
    const std::string host = label + "." + label + "." + label + "." + std::string(61, 'b');
    auto source = [](const std::string& url) {
        return L"/source:" + std::wstring(url.begin(), url.end());
    };
    const std::string far_url = "http://a/" + std::string(1015, 'p'); // 1024 characters
    const struct Case {
        const char* name;
        std::vector<std::wstring> arguments;
        std::string told;
    } cases[] = {
        {"nothing changes without arguments", {}, "start"},
        {"a number picks the satellite", {L"57166"}, "start 57166"},
        {"leading zeros are allowed", {L"059051"}, "start 59051"},
        {"the smallest number", {L"00001"}, "start 1"},
        {"zero is no satellite", {L"0"}, "refused bad_number [0]"},
        {"digits only", {L"5a"}, "refused bad_number [5a]"},
        {"over 99999", {L"100000"}, "refused bad_number [100000]"},
        {"no sign", {L"+57166"}, "refused bad_number [+57166]"},
        {"a minus starts an option", {L"-57166"}, "refused unknown_option [-57166]"},
        {"an empty argument is no number", {L""}, "refused bad_number"},
        {"one number only", {L"57166", L"59051"}, "refused second_number [59051]"},
        {"option names ignore case", {L"/CLOSE"}, "start close"},
        {"any order, either prefix", {L"-close", L"44387"}, "start 44387 close"},
        {"an option once only", {L"/close", L"/close"}, "refused close repeated_option [/close]"},
        {"a refusal keeps only /close",
         {L"/x", L"57166", L"/close"},
         "refused close unknown_option [/x]"},
        {"a secure source with its port",
         {L"/source:https://mirror.example:8443/gp/group.txt"},
         "start secure https://mirror.example:8443/gp/group.txt at mirror.example:8443"},
        {"the scheme is lower-cased, http is plain",
         {L"/SOURCE:HTTP://10.0.0.5/x.txt"},
         "start plain http://10.0.0.5/x.txt at 10.0.0.5"},
        {"the largest address and port, any path character",
         {L"/source:http://255.0.0.255:65535/~x"},
         "start plain http://255.0.0.255:65535/~x at 255.0.0.255:65535"},
        {"the longest host",
         {source("http://" + host + "/")},
         "start plain http://" + host + "/ at " + host},
        {"a host one longer",
         {source("http://" + host + "b/")},
         "refused bad_source [/source:http://" + host.substr(0, 45) + "]"},
        {"a URL of 1024 characters",
         {source(far_url)},
         "refused bad_source [/source:" + far_url.substr(0, 52) + "]"},
        {"no path is the root", {L"-source:https://a"}, "start secure https://a/ at a"},
        {"one source only",
         {L"/source:http://a/", L"/source:http://b/"},
         "refused repeated_option [/source:http://b/]"},
        {"the URL follows a colon",
         {L"/source=https://a/b"},
         "refused unknown_option [/source=https://a/b]"},
        {"a 64-character label, told cut to 60",
         {long_label},
         "refused bad_source [/source:https://" + std::string(44, 'a') + "]"},
        {"printable ASCII only", {L"57166\u00e9"}, "refused not_printable [57166?]"},
        {"no control characters", {L"5\x1f\x7f"}, "refused not_printable [5??]"},
        {"a Cyrillic letter in a name", {L"/\u0441lose"}, "refused not_printable [/?lose]"},
        {"the usage asked for", {L"/?"}, "usage"},
        {"the usage even unattended", {L"/close", L"-?"}, "usage close"},
        {"the usage wins and tells the fault", {L"/x", L"/?"}, "usage unknown_option [/x]"},
    };
    for (const Case& c : cases) {
        std::vector<const wchar_t*> arguments;
        for (const std::wstring& a : c.arguments)
            arguments.push_back(a.c_str());
        EXPECT_EQ(told(parse_command_line(arguments.data(), int32_t(arguments.size()))), c.told)
            << c.name;
    }
    // Sources this program cannot fetch, each refused and told as typed: no
    // URL, http or https only, no user name, ports 1 to 65535 without
    // leading zeros, no empty host or label, no hyphen at a label's end, an
    // address of four parts up to 255, no space.
    for (const wchar_t* a :
         {L"/source", L"/source:", L"/source:ftp://a/b", L"/source:https://user@a/b",
          L"/source:https://a:0/b", L"/source:https://a:65536/", L"/source:http://a:080/",
          L"/source:http://a:/", L"/source:https:///b", L"/source:http://a..b/",
          L"/source:http://a-.b/", L"/source:http://10.0.0.256/", L"/source:http://10.1/",
          L"/source:http://a/b c"}) {
        const std::wstring w = a;
        EXPECT_EQ(told(parse_command_line(&a, 1)),
                  "refused bad_source [" + std::string(w.begin(), w.end()) + "]");
    }
}

} // namespace
