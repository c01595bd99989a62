#pragma once

namespace sentrel {

// The main window's geometry in twips and the rules that change it, kept apart
// from the widgets so that every rule can be checked with its numbers.
// Window sizes are outer sizes: title bar, menu bar and borders included.
struct MainLayout
{
    enum class State { Normal, Minimised, Maximised };

    // What the frame, title bar and menu bar take from the outer size.
    static constexpr int ChromeWidth = 120;
    static constexpr int ChromeHeight = 690;
    static constexpr int MinWidth = 4665;
    static constexpr int MinHeight = 1800;
    static constexpr int DesignClientWidth = 5745;
    static constexpr int DesignClientHeight = 3240;

    State state = State::Normal;
    int windowLeft = 0;
    int windowTop = 0;
    int windowWidth = DesignClientWidth + ChromeWidth;
    int windowHeight = DesignClientHeight + ChromeHeight;
    int gridTop = 240;
    int gridHeight = 1215;
    int gridWidth = 5535;
    int detailsTop = 1560;
    int detailsHeight = 1575;
    int detailsWidth = 5535;
    int splitTop = 1440;
    bool optdetails = false; // details box wanted ("&Show Details Window")
    bool detailsVisible = false;
    bool splitterVisible = false;

    int clientWidth() const { return windowWidth - ChromeWidth; }
    int clientHeight() const { return windowHeight - ChromeHeight; }
};

// Fits the grid and the details box to the window's size; never narrower than
// 4665 twips, never lower than 1800 without details.
void applyResizeRule(MainLayout &layout);

// Moves the border between grid and details box to `y`; refuses (returns false,
// nothing changed) within 350 twips of the grid's top or the details box's bottom.
bool movebar(MainLayout &layout, int y);

// Shows or hides the details box in the normal window state, then refits; in any
// other state nothing changes. Returns whether anything changed.
bool toggle_details(MainLayout &layout);

// Small mode's share of the layout, in the normal window state only: hides the details
// box, then halves the window's width and then its height, refitting after each change.
void enterSmallMode(MainLayout &layout);

// Leaving small mode: doubles the window's width and then its height, refitting after
// each change, then shows the details box again.
void leaveSmallMode(MainLayout &layout);

// Half and double of a width in twips, rounded to whole twips with halves to even.
int halveTwips(int twips);

} // namespace sentrel
