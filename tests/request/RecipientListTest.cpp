// Splitting the recipient list text into the selector's entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request/RecipientList.h"

namespace {

std::string Joined(const std::vector<RecipientEntry>& entries)
{
    std::string text;
    for (const auto& entry : entries) text += "[" + entry.name + "|" + entry.address + "]";
    return text;
}

} // namespace

TEST(RecipientList, SplitsByLines)
{
    const struct {
        const char* list;
        const char* entries;
    } rows[] = {
        {"Zandu = mesadeayuda@zandu.com.ar", "[Zandu|mesadeayuda@zandu.com.ar]"},
        // ".ar" inside an address cuts nothing.
        {"Soporte = soporte@arnet.com.ar\nVentas = ventas@zandu.ar.com",
         "[Soporte|soporte@arnet.com.ar][Ventas|ventas@zandu.ar.com]"},
        {"A = a@x.com.ar\r\nB = b@y.net\r\n", "[A|a@x.com.ar][B|b@y.net]"},
        {"sin separador\nB=b@y\n\nC = c@z", "[C|c@z]"},
        {"Raro=nombre = x@y = z", "[Raro=nombre|x@y = z]"},
        {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(Joined(SplitRecipientList(row.list)), row.entries) << row.list;
}
