// The application manifest: its bytes, and its elements with their namespaces and values.
#include "res_file.h"

#include <glib.h>

#include <algorithm>
#include <map>

namespace res_test {
namespace {

constexpr WORD kManifestId = 1; // the manifest the loader reads for the process

// A manifest element as one line: depth, {namespace}name, sorted attributes (namespace
// declarations left out) and its text, if any.
struct ElementCollector {
    struct Open {
        std::map<std::string, std::string> namespaces; // prefix ("" = default) to URI, in scope
        std::string line;
        std::string text;
    };
    std::vector<Open> stack;
    std::vector<std::string> lines;
    std::vector<size_t> open; // index in lines of each open element

    static std::string Qualified(const std::map<std::string, std::string>& namespaces, const std::string& name)
    {
        const size_t colon = name.find(':');
        const std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon);
        const auto uri = namespaces.find(prefix);
        return "{" + (uri == namespaces.end() ? std::string("?") : uri->second) + "}" +
               (colon == std::string::npos ? name : name.substr(colon + 1));
    }

    void Start(const char* name, const char** names, const char** values)
    {
        Open element;
        if (!stack.empty())
            element.namespaces = stack.back().namespaces;
        std::map<std::string, std::string> attributes;
        for (size_t i = 0; names[i]; ++i) {
            const std::string attribute = names[i];
            if (attribute == "xmlns")
                element.namespaces[""] = values[i];
            else if (attribute.rfind("xmlns:", 0) == 0)
                element.namespaces[attribute.substr(6)] = values[i];
            else
                attributes[attribute] = values[i];
        }
        std::string line = std::string(stack.size() * 2, ' ') + Qualified(element.namespaces, name);
        for (const auto& [key, value] : attributes)
            line += " " + key + "=\"" + value + "\"";
        open.push_back(lines.size());
        lines.push_back(line);
        stack.push_back(std::move(element));
    }

    void End()
    {
        std::string text = stack.back().text;
        text.erase(0, text.find_first_not_of(" \t\r\n"));
        text.erase(text.find_last_not_of(" \t\r\n") + 1);
        if (!text.empty())
            lines[open.back()] += " text \"" + text + "\"";
        open.pop_back();
        stack.pop_back();
    }
};

std::vector<std::string> Elements(const std::vector<BYTE>& bytes, std::string& error)
{
    static const GMarkupParser parser = {
        [](GMarkupParseContext*, const gchar* name, const gchar** names, const gchar** values, gpointer self,
           GError**) { static_cast<ElementCollector*>(self)->Start(name, names, values); },
        [](GMarkupParseContext*, const gchar*, gpointer self, GError**) { static_cast<ElementCollector*>(self)->End(); },
        [](GMarkupParseContext*, const gchar* text, gsize length, gpointer self, GError**) {
            static_cast<ElementCollector*>(self)->stack.back().text.append(text, length);
        },
        nullptr,
        nullptr,
    };
    ElementCollector collector;
    GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_PREFIX_ERROR_POSITION, &collector, nullptr);
    GError* failure = nullptr;
    if (!g_markup_parse_context_parse(context, reinterpret_cast<const gchar*>(bytes.data()),
                                      static_cast<gssize>(bytes.size()), &failure) ||
        !g_markup_parse_context_end_parse(context, &failure)) {
        error = failure->message;
        g_error_free(failure);
    }
    g_markup_parse_context_free(context);
    return collector.lines;
}

class Manifest : public BuiltResources {};

TEST_F(Manifest, Is1138BytesOfUtf8WithoutByteOrderMark)
{
    const std::vector<BYTE> bytes = Load(RT_MANIFEST, kManifestId);
    EXPECT_EQ(1138u, bytes.size());
    EXPECT_EQ(ReadFileBytes(SORVANE_SOURCE_DIR "/res/Sorvane.manifest"), bytes) << "embedded byte for byte";
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_FALSE(bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) << "no byte-order mark";
    EXPECT_TRUE(g_utf8_validate(reinterpret_cast<const gchar*>(bytes.data()), static_cast<gssize>(bytes.size()), nullptr));
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), 0);
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"";
    EXPECT_EQ(declaration, std::string(bytes.begin(), bytes.begin() + std::min(bytes.size(), declaration.size())));
}

TEST_F(Manifest, DeclaresCommonControls6AsInvokerDpiAwareAndVistaAnd7)
{
    const std::string asmV1 = "{urn:schemas-microsoft-com:asm.v1}";
    const std::string asmV3 = "{urn:schemas-microsoft-com:asm.v3}";
    const std::string compat = "{urn:schemas-microsoft-com:compatibility.v1}";
    const std::vector<std::string> expected = {
        asmV1 + "assembly manifestVersion=\"1.0\"",
        "  " + asmV1 + "dependency",
        "    " + asmV1 + "dependentAssembly",
        "      " + asmV1 +
            "assemblyIdentity language=\"*\" name=\"Microsoft.Windows.Common-Controls\" processorArchitecture=\"x86\" "
            "publicKeyToken=\"6595b64144ccf1df\" type=\"win32\" version=\"6.0.0.0\"",
        "  " + asmV3 + "trustInfo",
        "    " + asmV3 + "security",
        "      " + asmV3 + "requestedPrivileges",
        "        " + asmV3 + "requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"",
        "  " + asmV3 + "application",
        "    " + asmV3 + "windowsSettings",
        "      {http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware text \"true\"",
        "  " + compat + "compatibility",
        "    " + compat + "application",
        "      " + compat + "supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"", // Windows 7
        "      " + compat + "supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"", // Windows Vista
    };
    std::string error;
    const std::vector<std::string> actual = Elements(Load(RT_MANIFEST, kManifestId), error);
    EXPECT_EQ("", error) << "well-formed XML";
    EXPECT_EQ(expected, actual);
}

} // namespace
} // namespace res_test
