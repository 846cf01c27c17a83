// Shared by the persistence tests: registration, a file round trip and a
// leak guard over the kernel's live entities.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "persist/iges_husk_attributes.hxx"
#include "persist/persistent_class.hxx"
#include "velm/attrib.hxx"
#include "velm/entity.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"

namespace persist_test {

// The connector registers at load once its start-up unit asks for it;
// registering again is harmless, so every test makes sure of it.
inline void ensureRegistered()
{
    registerPersistentClasses();
    registerPartClass();
}

// How many attributes of the entity pass the find_attrib filter.
inline int attribCount(const ENTITY* e, int level2, int level3 = -1, int level4 = -1)
{
    int n = 0;
    for (ATTRIB* a = find_attrib(e, level2, level3, level4); a; a = find_next_attrib(a, level2, level3, level4))
        ++n;
    return n;
}

// Every kind of husk on one entity, with the given values.
inline void addAllHusks(ENTITY* e, int de, int layer, const char* label, double r, double g, double b, int font,
                        double weight)
{
    new ATTRIB_DOVA_IGES_DE_ENTRY(e, de);
    (new ATTRIB_DOVA_IGES_LAYER(e))->set_single_layer(layer);
    (new ATTRIB_DOVA_IGES_LABEL(e))->set_label(1, label);
    (new ATTRIB_DOVA_IGES_COLOR(e))->set_color(0, r, g, b, "");
    (new ATTRIB_DOVA_IGES_LINEFONT(e))->set_line_font(font);
    (new ATTRIB_DOVA_IGES_LINEWEIGHT(e))->set_line_weight(weight);
}

// Saves the list to a text file image and returns the text.
inline std::string saveText(const ENTITY_LIST& list)
{
    FILE* fp = std::tmpfile();
    EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
    std::string text;
    std::rewind(fp);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        text.append(buf, n);
    std::fclose(fp);
    return text;
}

inline outcome restoreText(const std::string& text, ENTITY_LIST& restored)
{
    FILE* fp = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), fp);
    std::rewind(fp);
    outcome r = api_restore_entity_list(fp, 1, restored);
    std::fclose(fp);
    return r;
}

// Saves the entity alone and restores it, with `from` replaced by `to` in
// the text when given; `text` receives what was restored.
inline ENTITY* roundTrip(ENTITY* e, std::string* text = nullptr, const std::string& from = {},
                         const std::string& to = {})
{
    ENTITY_LIST list;
    list.add(e);
    std::string saved = saveText(list);
    const std::size_t at = from.empty() ? 0 : saved.find(from);
    EXPECT_NE(at, std::string::npos) << saved;
    if (!from.empty() && at != std::string::npos)
        saved.replace(at, from.size(), to);
    if (text)
        *text = saved;
    ENTITY_LIST restored;
    EXPECT_TRUE(restoreText(saved, restored).ok());
    return restored.iteration_count() ? restored[0] : nullptr;
}

// Every test leaves as many live kernel entities as it found.
class PersistTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureRegistered();
        velm_test_reset();
        m_live = velm_live_entity_count();
    }
    void TearDown() override { EXPECT_EQ(velm_live_entity_count(), m_live) << "kernel entities leaked"; }

private:
    long m_live = 0;
};

}  // namespace persist_test
