#include "qelx/qelx_options.hxx"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>

namespace {

bool parseBool(std::string_view text, bool& value)
{
    if (text == "1" || text == "true" || text == "TRUE") {
        value = true;
        return true;
    }
    if (text == "0" || text == "false" || text == "FALSE") {
        value = false;
        return true;
    }
    return false;
}

template <class Number>
bool parseNumber(std::string_view text, Number& value)
{
    Number parsed{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return false;
    value = parsed;
    return true;
}

// Truncation towards zero, saturated at the int range: a huge or infinite
// option value must not wrap round to a negative count. NaN is no number.
bool truncateToInt(double x, int& value)
{
    if (std::isnan(x))
        return false;
    if (x >= static_cast<double>(std::numeric_limits<int>::max()))
        value = std::numeric_limits<int>::max();
    else if (x <= static_cast<double>(std::numeric_limits<int>::min()))
        value = std::numeric_limits<int>::min();
    else
        value = static_cast<int>(x);
    return true;
}

} // namespace

QELIResult QELXValue::GetValue(bool& value) const
{
    switch (m_type) {
    case Bool:
    case Int: value = m_int != 0; return QELI_OK;
    case Double:
        if (std::isnan(m_double))
            return QELI_FAIL;
        value = m_double != 0.0;
        return QELI_OK;
    case String: return parseBool(m_text.view(), value) ? QELI_OK : QELI_FAIL;
    case None: break;
    }
    return QELI_FAIL;
}

QELIResult QELXValue::GetValue(int& value) const
{
    switch (m_type) {
    case Bool:
    case Int: value = m_int; return QELI_OK;
    case Double: return truncateToInt(m_double, value) ? QELI_OK : QELI_FAIL;
    case String: return parseNumber(m_text.view(), value) ? QELI_OK : QELI_FAIL;
    case None: break;
    }
    return QELI_FAIL;
}

QELIResult QELXValue::GetValue(double& value) const
{
    switch (m_type) {
    case Bool:
    case Int: value = m_int; return QELI_OK;
    case Double: value = m_double; return QELI_OK;
    case String: return parseNumber(m_text.view(), value) ? QELI_OK : QELI_FAIL;
    case None: break;
    }
    return QELI_FAIL;
}

QELIResult QELXValue::GetValue(QELXString& value) const
{
    switch (m_type) {
    case String: value = m_text; return QELI_OK;
    case Bool: value = m_int ? "true" : "false"; return QELI_OK;
    case Int: value = QELXString(std::to_string(m_int)); return QELI_OK;
    case Double: value = QELXString(std::to_string(m_double)); return QELI_OK;
    case None: break;
    }
    return QELI_FAIL;
}

QELIResult QELXOption::GetName(QELXString& name) const
{
    name = m_name;
    return QELI_OK;
}

QELIResult QELXOption::GetValue(QELXValue& value) const
{
    if (m_value.GetType() == QELXValue::None)
        return QELI_FAIL;
    value = m_value;
    return QELI_OK;
}

QELIResult QELXOptions::AddOption(const QELXString& name, const QELXValue& value)
{
    m_options.emplace_back(name, value);
    return QELI_OK;
}

QELIResult QELXOptions::GetOption(const QELXString& name, QELXOption*& option)
{
    const auto last = std::find_if(m_options.rbegin(), m_options.rend(),
                                   [&](const QELXOption& o) { return o.name().equals(name); });
    if (last == m_options.rend())
        return QELI_FAIL;
    option = &*last;
    return QELI_OK;
}

QELIResult QELXOptions::GetNext(QELXOption*& option)
{
    if (m_cursor >= m_options.size()) {
        option = nullptr;
        return QELI_FAIL;
    }
    option = &m_options[m_cursor++];
    return QELI_OK;
}

void QELXOptions::Clear()
{
    m_options.clear();
    m_cursor = 0;
}

bool Gk_Option::on() const
{
    bool value = false;
    return GetValue(value) == QELI_OK && value;
}

int Gk_Option::count() const
{
    switch (m_value.GetType()) {
    case QELXValue::Bool:
    case QELXValue::Int:
    case QELXValue::Double: {
        int value = 0;
        m_value.GetValue(value);
        return value;
    }
    default: return 0;
    }
}

double Gk_Option::value() const
{
    switch (m_value.GetType()) {
    case QELXValue::Bool:
    case QELXValue::Int:
    case QELXValue::Double: {
        double value = 0.0;
        m_value.GetValue(value);
        return value;
    }
    default: return 0.0;
    }
}

void Gk_Option::set(bool value, const void*) { SetValue(value); }
void Gk_Option::set(int value, const void*) { SetValue(value); }
void Gk_Option::set(double value, const void*) { SetValue(value); }

namespace {

struct Registry {
    std::map<std::string, std::unique_ptr<Gk_Option>, std::less<>> options;
    std::vector<void (*)()> hooks;

    Registry() { loadState(); }

    void loadState()
    {
        options.clear();
        for (const char* key : Gk_OptionDoc::writableKeys())
            options.emplace(key, std::make_unique<Gk_Option>(QELXString(key), QELXValue(false)));
    }

    void changed() const
    {
        // Copy: a hook may add or remove hooks.
        const std::vector<void (*)()> current = hooks;
        for (auto hook : current)
            hook();
    }
};

Registry& registry()
{
    static Registry r;
    return r;
}

} // namespace

const std::vector<const char*>& Gk_OptionDoc::writableKeys()
{
    static const std::vector<const char*> keys = {
        "/XVelm/ConvertSpline",
        "/XVelm/SplineAsRational",
        "/XVelm/EnableSurfaceSimplification",
        "/XVelm/EnableCurveSimplification",
        "/XVelm/TranslateAllStates",
        "/XVelm/HealBodyPostProcess|XInventor",
    };
    return keys;
}

Gk_Option* Gk_OptionDoc::fetchOption(const Gk_ROString& key)
{
    auto& options = registry().options;
    const auto found = options.find(key.view());
    return found == options.end() ? nullptr : found->second.get();
}

Gk_Option* Gk_OptionDoc::setOption(const Gk_ROString& key, const QELXValue& value)
{
    Registry& r = registry();
    if (Gk_Option* existing = fetchOption(key)) {
        existing->SetValue(value);
        return existing;
    }
    const std::string text(key.view());
    Gk_Option* created =
        r.options.emplace(text, std::make_unique<Gk_Option>(QELXString(text), value)).first->second.get();
    r.changed();
    return created;
}

bool Gk_OptionDoc::removeOption(const Gk_ROString& key)
{
    Registry& r = registry();
    const auto found = r.options.find(key.view());
    if (found == r.options.end())
        return false;
    r.options.erase(found);
    r.changed();
    return true;
}

void Gk_OptionDoc::reset()
{
    Registry& r = registry();
    r.loadState();
    r.changed();
}

std::vector<QELXString> Gk_OptionDoc::keys()
{
    std::vector<QELXString> out;
    for (const auto& entry : registry().options)
        out.emplace_back(entry.first);
    return out;
}

void Gk_OptionDoc::addChangeHook(void (*hook)())
{
    auto& hooks = registry().hooks;
    if (hook && std::find(hooks.begin(), hooks.end(), hook) == hooks.end())
        hooks.push_back(hook);
}

void Gk_OptionDoc::removeChangeHook(void (*hook)())
{
    auto& hooks = registry().hooks;
    hooks.erase(std::remove(hooks.begin(), hooks.end(), hook), hooks.end());
}
