// Generated scripts over scratch keys: registering and unregistering them
// must leave exactly the tree the script describes, and then exactly the
// tree that was there before (keys marked "NoRemove" and what they keep
// aside); a registration that fails part-way must leave no trace of its
// failing root block.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "registrar/reg_object.h"
#include "registrar_test_util.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

const unsigned kSeed = 20261208;
const int kPassingScripts = 160;
const int kFailingScripts = 100;

typedef RegistrySnapshot Snapshot;

Snapshot TakeSnapshot(const ScratchKey &scratch)
{
    return TakeSnapshot(HKEY_CURRENT_USER, scratch.Path());
}

std::string Render(const Snapshot &snapshot)
{
    return RenderSnapshot(snapshot);
}

struct ValueSpec
{
    std::string name;  // empty for a key's default value
    bool noRemove = false;
    DWORD type = REG_SZ;
    std::string bytes;  // as stored
    std::string text;   // as written in the script, with its type letter
};

struct KeySpec
{
    std::string name;
    bool noRemove = false;
    bool forceRemove = false;
    bool hasDefault = false;
    bool writeBlock = false;
    ValueSpec defaultValue;
    std::vector<ValueSpec> values;
    std::vector<KeySpec> children;
    std::string fault;  // a bad entry written last in this key's block
};

class Generator
{
public:
    explicit Generator(unsigned seed) : m_random(seed) {}

    int Below(int n) { return static_cast<int>(m_random() % static_cast<unsigned>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

    std::string Blank()
    {
        static const char *const blanks[] = {" ", "  ", "\t", "\n", "\r\n", " \n\t"};
        return blanks[Below(6)];
    }

    // A keyword in a random mix of cases, sometimes quoted.
    std::string Keyword(const std::string &word)
    {
        std::string out = word;
        for (char &c : out)
        {
            if (Chance(30))
                c = static_cast<char>(Chance(50) ? toupper(c) : tolower(c));
        }
        return Chance(20) ? "'" + out + "'" : out;
    }

    std::string Name(const std::string &name) { return Chance(40) ? "'" + name + "'" : name; }

    ValueSpec Value(const std::string &name)
    {
        ValueSpec value;
        value.name = name;
        std::string letter;
        switch (Below(4))
        {
        case 0:
        {
            static const char pool[] = "abcXYZ _-'%{}=";
            std::string plain, written;
            for (int i = Below(12); i > 0; --i)
            {
                char c = pool[Below(sizeof pool - 1)];
                plain += c;
                written += c == '\'' ? "''" : c == '%' ? "%%" : std::string(1, c);
            }
            value.type = REG_SZ;
            value.bytes = plain + std::string(1, '\0');
            letter = "s";
            value.text = "'" + written + "'";
            break;
        }
        case 1:
        {
            value.type = REG_MULTI_SZ;
            letter = "m";
            std::string written;
            for (int i = 1 + Below(3); i > 0; --i)
            {
                std::string item;
                for (int j = 1 + Below(6); j > 0; --j)
                    item += static_cast<char>('a' + Below(26));
                value.bytes += item + std::string(1, '\0');
                written += written.empty() ? item : "\\0" + item;
            }
            value.bytes += std::string(1, '\0');
            value.text = "'" + written + "'";
            break;
        }
        case 2:
        {
            DWORD number = static_cast<DWORD>(m_random());
            value.type = REG_DWORD;
            letter = "d";
            value.bytes.assign(reinterpret_cast<const char *>(&number), 4);
            value.text = std::to_string(number);
            break;
        }
        default:
        {
            value.type = REG_BINARY;
            letter = "b";
            static const char digits[] = "0123456789abcdefABCDEF";
            for (int i = Below(6); i > 0; --i)
            {
                char high = digits[Below(22)], low = digits[Below(22)];
                value.text += high;
                value.text += low;
                auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
                value.bytes += static_cast<char>(digit(high) << 4 | digit(low));
            }
            if (value.text.empty())
                value.text = "''";
            break;
        }
        }
        value.text = Keyword(letter) + Blank() + value.text;
        return value;
    }

    KeySpec Key(const std::string &name, int depth, bool allowNoRemove)
    {
        KeySpec key;
        key.name = name;
        key.noRemove = allowNoRemove && Chance(15);
        key.forceRemove = Chance(15);
        key.hasDefault = Chance(40);
        if (key.hasDefault)
            key.defaultValue = Value("");
        for (int i = 0, count = Below(3); i < count; ++i)
        {
            key.values.push_back(Value("v" + std::to_string(i)));
            key.values.back().noRemove = allowNoRemove && Chance(20);
        }
        if (depth < 3)
        {
            for (int i = 0, count = Below(depth == 0 ? 4 : 3); i < count; ++i)
                key.children.push_back(
                    Key(name + "c" + std::to_string(i), depth + 1, allowNoRemove));
        }
        key.writeBlock = !key.values.empty() || !key.children.empty() || Chance(20);
        return key;
    }

    std::string Script(const KeySpec &key)
    {
        std::string out;
        if (key.forceRemove)
            out += Keyword("ForceRemove") + Blank();
        if (key.noRemove)
            out += Keyword("NoRemove") + Blank();
        out += Name(key.name);
        if (key.hasDefault)
            out += Blank() + "=" + Blank() + key.defaultValue.text;
        if (key.writeBlock || !key.fault.empty())
        {
            out += Blank() + "{" + Blank();
            for (const ValueSpec &value : key.values)
            {
                if (value.noRemove)
                    out += Keyword("NoRemove") + Blank();
                out += Keyword("Val") + Blank() + Name(value.name) + Blank() + "=" + Blank() +
                       value.text + Blank();
            }
            for (const KeySpec &child : key.children)
                out += Script(child) + Blank();
            if (!key.fault.empty())
                out += key.fault + Blank();
            out += "}";
        }
        return out;
    }

private:
    std::mt19937 m_random;
};

// What registering key below path adds to a snapshot.
void ModelRegister(const KeySpec &key, const std::string &path, Snapshot *out)
{
    const std::string here = path + "\\" + key.name;
    (*out)[here] = "";
    if (key.hasDefault)
        (*out)[here + " []"] = ValueLine(key.defaultValue.type, key.defaultValue.bytes);
    for (const ValueSpec &value : key.values)
        (*out)[here + " [" + value.name + "]"] = ValueLine(value.type, value.bytes);
    for (const KeySpec &child : key.children)
        ModelRegister(child, here, out);
}

// What stays of a registered key after unregistering it: keys marked
// "NoRemove" and the keys above them, with their default values and the
// values marked "NoRemove". True when the key itself stays.
bool ModelLeftAfterUnregister(const KeySpec &key, const std::string &path, Snapshot *out)
{
    const std::string here = path + "\\" + key.name;
    bool stays = key.noRemove;
    Snapshot below;
    for (const KeySpec &child : key.children)
        stays = ModelLeftAfterUnregister(child, here, &below) || stays;
    if (!stays)
        return false;
    out->insert(below.begin(), below.end());
    (*out)[here] = "";
    if (key.hasDefault)
        (*out)[here + " []"] = ValueLine(key.defaultValue.type, key.defaultValue.bytes);
    for (const ValueSpec &value : key.values)
    {
        if (value.noRemove)
            (*out)[here + " [" + value.name + "]"] = ValueLine(value.type, value.bytes);
    }
    return true;
}

// Keys and values of someone else, with names no script uses.
void AddForeignTree(Generator &generator, const ScratchKey &scratch)
{
    for (int i = generator.Below(3); i > 0; --i)
        SetStringValue(HKEY_CURRENT_USER, scratch.Path(), ("fv" + std::to_string(i)).c_str(),
                       "foreign");
    for (int i = generator.Below(4); i > 0; --i)
    {
        std::string path = scratch.Path() + "\\f" + std::to_string(i);
        for (int depth = generator.Below(3); depth > 0; --depth)
            path += "\\f" + std::to_string(generator.Below(3));
        if (generator.Chance(50))
            SetStringValue(HKEY_CURRENT_USER, path, NULL, "foreign default");
        else
            CreateKey(HKEY_CURRENT_USER, path);
    }
}

std::vector<KeySpec> Forest(Generator &generator, const std::string &prefix, bool allowNoRemove)
{
    std::vector<KeySpec> keys;
    for (int i = 0, count = 1 + generator.Below(3); i < count; ++i)
        keys.push_back(generator.Key(prefix + std::to_string(i), 0, allowNoRemove));
    return keys;
}

std::string Body(Generator &generator, const std::vector<KeySpec> &keys)
{
    std::string body;
    for (const KeySpec &key : keys)
        body += generator.Script(key) + generator.Blank();
    return body;
}

TEST(RegScriptPropertyTest, RegisterThenUnregisterRestoresTheTree)
{
    Generator generator(kSeed);
    for (int run = 0; run < kPassingScripts; ++run)
    {
        ScratchKey scratch("Property");
        AddForeignTree(generator, scratch);
        const Snapshot before = TakeSnapshot(scratch);

        const std::vector<KeySpec> keys = Forest(generator, "k", true);
        const std::string script = ScriptUnder(scratch.Path(), Body(generator, keys));
        SCOPED_TRACE("seed " + std::to_string(kSeed) + ", script " + std::to_string(run) + ":\n" +
                     script);

        Snapshot registered = before;
        Snapshot left = before;
        for (const KeySpec &key : keys)
        {
            ModelRegister(key, "", &registered);
            ModelLeftAfterUnregister(key, "", &left);
        }

        CRegObject registrar;
        ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), TRUE));
        ASSERT_EQ(Render(registered), Render(TakeSnapshot(scratch)));
        // Registering again changes nothing ("ForceRemove" keys are rebuilt).
        ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), TRUE));
        ASSERT_EQ(Render(registered), Render(TakeSnapshot(scratch)));

        ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), FALSE));
        ASSERT_EQ(Render(left), Render(TakeSnapshot(scratch)));
        // Unregistering again finds nothing more to remove.
        ASSERT_SUCCEEDED(registrar.ApplyScriptText(script.c_str(), FALSE));
        ASSERT_EQ(Render(left), Render(TakeSnapshot(scratch)));
    }
}

struct Fault
{
    const char *entry;
    HRESULT result;
};

TEST(RegScriptPropertyTest, FailedRegistrationLeavesNoTraceOfItsRootBlock)
{
    const std::string longName(260, 'v');
    const Fault faults[] = {
        {"Val vbad = X 1", DISP_E_EXCEPTION},
        {"Val vbad = B abc", E_FAIL},
        {"'x\\y'", DISP_E_EXCEPTION},
        {"ForceRemove 'x\\y'", DISP_E_EXCEPTION},
        {"Val vbad = D 'not a number'", DISP_E_TYPEMISMATCH},
        {"kbad = D 4294967296", DISP_E_OVERFLOW},
        {"kbad = SZ 1", DISP_E_EXCEPTION},
        {"Val vbad = s x { inner }", DISP_E_EXCEPTION},
        {"Delete kbad { inner }", DISP_E_EXCEPTION},
        {"Val vbad s x", DISP_E_EXCEPTION},
    };
    const int faultCount = sizeof faults / sizeof faults[0];
    std::string longNameFault = "Val '" + longName + "' = s x";

    Generator generator(kSeed + 1);
    for (int run = 0; run < kFailingScripts; ++run)
    {
        ScratchKey scratch("PropertyFail");
        AddForeignTree(generator, scratch);
        const Snapshot before = TakeSnapshot(scratch);

        const std::vector<KeySpec> kept = Forest(generator, "a", true);
        std::vector<KeySpec> failing = Forest(generator, "b", false);
        const int pick = generator.Below(faultCount + 1);
        const std::string faultEntry = pick == faultCount ? longNameFault : faults[pick].entry;
        const HRESULT expected = pick == faultCount ? DISP_E_EXCEPTION : faults[pick].result;

        // Put the bad entry into a random key of the failing block, or
        // right into the block.
        std::vector<KeySpec *> places;
        std::vector<KeySpec *> pending;
        for (KeySpec &key : failing)
            pending.push_back(&key);
        while (!pending.empty())
        {
            KeySpec *key = pending.back();
            pending.pop_back();
            places.push_back(key);
            for (KeySpec &child : key->children)
                pending.push_back(&child);
        }
        const int place = generator.Below(static_cast<int>(places.size()) + 1);
        std::string failingBody = Body(generator, failing);
        if (place < static_cast<int>(places.size()))
        {
            places[place]->fault = faultEntry;
            failingBody = Body(generator, failing);
        }
        else
        {
            failingBody += generator.Blank() + faultEntry;
        }

        const std::string keptScript = ScriptUnder(scratch.Path(), Body(generator, kept));
        const std::string script = keptScript + ScriptUnder(scratch.Path(), failingBody);
        SCOPED_TRACE("seed " + std::to_string(kSeed + 1) + ", script " + std::to_string(run) +
                     ":\n" + script);

        Snapshot registered = before;
        Snapshot left = before;
        for (const KeySpec &key : kept)
        {
            ModelRegister(key, "", &registered);
            ModelLeftAfterUnregister(key, "", &left);
        }

        CRegObject registrar;
        ASSERT_HR(expected, registrar.ApplyScriptText(script.c_str(), TRUE));
        ASSERT_EQ(Render(registered), Render(TakeSnapshot(scratch)));

        ASSERT_SUCCEEDED(registrar.ApplyScriptText(keptScript.c_str(), FALSE));
        ASSERT_EQ(Render(left), Render(TakeSnapshot(scratch)));
    }
}

}  // namespace
