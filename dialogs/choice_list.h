#pragma once

#include <cstddef>

#include "ui/controls.h"

// One entry of a fixed choice: the text the list shows and the value it stands for.
template <typename Value> struct Choice {
    const char* text;
    Value value;
};

// A drop-down list (CBS_DROPDOWNLIST) of fixed entries, shown in their order (a sorted list
// must be given them sorted); the dialog reads and sets values, never indexes.
template <typename Value> class ChoiceList : public ComboBoxControl {
public:
    template <size_t count> explicit ChoiceList(const Choice<Value> (&entries)[count]) : entries(entries), count(count)
    {
    }

    // Binds the list to the control `id` of `dialog`, fills it with every entry's text and
    // selects the entry standing for `selected`; again for each account the dialog shows.
    void attachFilled(HWND dialog, int id, Value selected)
    {
        attachToDialogItem(dialog, id);
        resetContent();
        for (size_t i = 0; i < count; ++i)
            addString(entries[i].text);
        select(selected);
    }
    // Shows `newEntries` instead, keeping the value selected when they have it; before
    // attachFilled, only chooses what it will show.
    template <size_t newCount> void replaceEntries(const Choice<Value> (&newEntries)[newCount])
    {
        bool attached = handle != nullptr;
        Value selected = attached ? chosen() : newEntries[0].value;
        entries = newEntries;
        count = newCount;
        if (!attached)
            return;
        resetContent();
        for (size_t i = 0; i < count; ++i)
            addString(entries[i].text);
        select(selected);
    }
    // Selects the first entry standing for `value`, or clears the selection.
    void select(Value value)
    {
        int found = -1;
        for (size_t i = 0; i < count && found < 0; ++i)
            if (entries[i].value == value)
                found = static_cast<int>(i);
        setCurSel(found);
    }
    // The selected entry's value; the first entry's while nothing is selected.
    Value chosen() const
    {
        int index = getCurSel();
        bool valid = index >= 0 && static_cast<size_t>(index) < count;
        return entries[valid ? index : 0].value;
    }

private:
    const Choice<Value>* entries;
    size_t count;
};
