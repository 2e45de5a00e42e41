#include "plugin/PresetActions.h"

#include "engine/EditorSizing.h"
#include "plugin/BrindlecotDeFeedback.h"
#include "plugin/HostParameters.h"

namespace brindlecot {

PresetActions::PresetActions(BrindlecotDeFeedback& processor)
    : processor_(processor)
{ }

std::vector<std::string> PresetActions::names() const
{
    return processor_.presets().names();
}

std::string PresetActions::currentName() const
{
    return processor_.presets().currentName();
}

bool PresetActions::isModified() const
{
    return processor_.presets().modified();
}

void PresetActions::changed()
{
    if (onChange)
        onChange();
}

bool PresetActions::save(const std::string& name)
{
    lastError_.clear();
    juce::MemoryBlock state;
    processor_.getStateInformation(state);
    // The chunk without the framework's trailing bypass word: a preset holds the plug-in's part.
    const auto* bytes = static_cast<const uint8_t*>(state.getData());
    const size_t size = state.getSize() >= 4 ? state.getSize() - 4 : 0;
    const std::vector<uint8_t> chunk(bytes, bytes + size);
    const bool ok = processor_.presets().save(name, chunk, processor_.parameterSnapshot(), lastError_);
    changed();
    return ok;
}

bool PresetActions::load(const std::string& name)
{
    lastError_.clear();
    PresetRecord record;
    if (!processor_.presets().find(name, record, lastError_))
        return false;

    auto& p = processor_;
    StateFields fields;
    fields.accentIndex = p.accentIndex_.load();
    fields.inputMode = p.frame_->inputMode.load();
    fields.savedEditorWidth = p.savedEditorWidth_.load();
    fields.editorWidth = p.editorWidth_;
    fields.editorHeight = p.editorHeight_;
    fields.screenScale = p.screenScale_;
    fields.editorOpen = p.getActiveEditor() != nullptr;
    PresetValues values = p.parameterSnapshot();
    int read = 0;
    if (!applyPresetChunk(record.state, fields, values, &read))
        return false;

    if (p.accentIndex_.exchange(fields.accentIndex) != fields.accentIndex || fields.accentChanged)
        p.accentChanged_.store(true);
    p.savedEditorWidth_.store(fields.savedEditorWidth);
    p.editorWidth_ = fields.editorWidth;
    p.editorHeight_ = fields.editorHeight;
    // The input mode belongs to the machine: applyPresetChunk left it as it was.

    // The host records one edit per parameter: all gestures begin, all values change, all end.
    for (auto* param : p.parameters_)
        param->beginChangeGesture();
    for (size_t i = 0; i < p.parameters_.size(); ++i) {
        auto* param = p.parameters_[i];
        if (static_cast<int>(i) < read)
            param->setValueNotifyingHost(param->convertTo0to1(static_cast<float>(values[i])));
    }
    for (auto* param : p.parameters_)
        param->endChangeGesture();

    restoreWindowScale(fields.savedEditorWidth);
    p.presets().loaded(record.name, p.parameterSnapshot());
    changed();
    return true;
}

void PresetActions::restoreWindowScale(int32_t savedEditorWidth)
{
    double k = 1.0;
    if (presetWindowScale(savedEditorWidth, windowScale(), k))
        setWindowScale(k);
}

bool PresetActions::remove(const std::string& name)
{
    lastError_.clear();
    const bool ok = processor_.presets().remove(name, lastError_);
    changed();
    return ok;
}

bool PresetActions::rename(const std::string& oldName, const std::string& newName)
{
    lastError_.clear();
    const bool ok = processor_.presets().rename(oldName, newName, lastError_);
    changed();
    return ok;
}

bool PresetActions::idleCheck()
{
    if (!processor_.presets().checkModified(processor_.parameterSnapshot()))
        return false;
    changed();
    return true;
}

double PresetActions::windowScale() const
{
    const auto* editor = processor_.getActiveEditor();
    return ui::currentWindowScale(editor != nullptr, editor != nullptr ? editor->getWidth() : 0.0,
        processor_.editorWidth_, processor_.screenScale_);
}

void PresetActions::setWindowScale(double k)
{
    const auto size = ui::windowSizeForScale(k, processor_.screenScale_);
    if (auto* editor = processor_.getActiveEditor()) {
        if (resizeOpenEditor)
            resizeOpenEditor(size.width, size.height);
        else
            editor->setSize(size.width, size.height);
    }
    processor_.editorWidth_ = size.width;
    processor_.editorHeight_ = size.height;
}

int PresetActions::theme() const
{
    return processor_.accentIndex_.load();
}

void PresetActions::setTheme(int index)
{
    const int i = index >= 0 && index <= 5 ? index : 0;
    if (processor_.accentIndex_.exchange(i) != i) {
        processor_.accentChanged_.store(true);
        processor_.markStateDirty();
    }
}

int PresetActions::inputMode() const
{
    return processor_.frame_->inputMode.load();
}

void PresetActions::setInputMode(int mode)
{
    const int v = mode == 1 ? 1 : 0;
    if (processor_.frame_->inputMode.exchange(v) != v)
        processor_.markStateDirty();
}

bool PresetActions::logging() const
{
    return processor_.loggingPreference();
}

void PresetActions::setLogging(bool on)
{
    processor_.setLoggingPreference(on);
}

bool PresetActions::updatesEnabled() const
{
    return processor_.updateCheck().isEnabled();
}

void PresetActions::setUpdatesEnabled(bool on)
{
    processor_.updateCheck().setEnabled(on);
    changed();
}

ui::MainMenu PresetActions::makeMenu()
{
    ui::MainMenu menu;
    menu.logGet = [this] { return logging(); };
    menu.logSet = [this](bool on) { setLogging(on); };
    menu.scaleGet = [this] { return windowScale(); };
    menu.scaleSet = [this](double k) { setWindowScale(k); };
    menu.themeGet = [this] { return theme(); };
    menu.themeSet = [this](int i) { setTheme(i); };
    menu.inputModeGet = [this] { return inputMode(); };
    menu.inputModeSet = [this](int v) { setInputMode(v); };
    menu.extensionBuild = [this](std::vector<ui::MenuItem>& items) {
        ui::appendUpdateCheckItems(processor_.updateCheck(), items);
    };
    menu.extensionSelect
        = [this](int i) { ui::selectUpdateCheckItem(processor_.updateCheck(), i, [this] { changed(); }); };
    return menu;
}

} // namespace brindlecot
