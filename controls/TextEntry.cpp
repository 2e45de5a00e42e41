#include "controls/TextEntry.h"

namespace brindlecot::controls {

void TextEntry::open(juce::Component& parent, const Options& options, Finished onFinished)
{
    onFinished_ = nullptr;
    editor_ = std::make_unique<juce::TextEditor>("text entry");
    editor_->setFont(options.font);
    editor_->setJustification(juce::Justification::centred);
    if (options.maxCharacters > 0)
        editor_->setInputRestrictions(options.maxCharacters);
    if (options.indents)
        editor_->setIndents(options.indents->x, options.indents->y);
    editor_->setBounds(options.bounds);
    editor_->setText(options.text, false);
    editor_->onReturnKey = [this] { finish(true); };
    editor_->onEscapeKey = [this] { finish(false); };
    editor_->onFocusLost = [this] { finish(true); };
    onFinished_ = std::move(onFinished);
    parent.addAndMakeVisible(*editor_);
    editor_->selectAll();
    if (parent.isShowing())
        editor_->grabKeyboardFocus();
}

void TextEntry::finish(bool commit)
{
    if (editor_ == nullptr)
        return;
    const std::string text = editor_->getText().toStdString();
    // Deleting the editor from inside its own callback is unsafe: drop it once the call returns.
    auto closing = std::shared_ptr<juce::TextEditor>(editor_.release());
    closing->onReturnKey = nullptr;
    closing->onEscapeKey = nullptr;
    closing->onFocusLost = nullptr;
    closing->setVisible(false);
    if (auto* parent = closing->getParentComponent())
        parent->removeChildComponent(closing.get());
    juce::MessageManager::callAsync([closing] {});
    const Finished done = std::move(onFinished_);
    onFinished_ = nullptr;
    if (done)
        done(commit, text);
}

} // namespace brindlecot::controls
