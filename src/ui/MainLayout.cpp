#include "ui/MainLayout.h"

#include <cmath>

namespace sentrel {

void applyResizeRule(MainLayout &l)
{
    if (l.state == MainLayout::State::Minimised)
        return;
    if (l.optdetails) {
        if (l.windowHeight < l.gridHeight + 1455) {
            l.detailsVisible = false;
            l.optdetails = false;
            l.splitterVisible = false;
        } else {
            l.detailsHeight = l.windowHeight - l.gridHeight - 1260;
        }
    }
    if (!l.optdetails) {
        l.detailsVisible = false;
        l.splitterVisible = false;
        if (l.windowHeight < MainLayout::MinHeight)
            l.windowHeight = MainLayout::MinHeight;
        l.gridHeight = l.windowHeight - 1155;
        if (l.state == MainLayout::State::Normal)
            l.windowHeight = l.gridHeight + 1155;
    }
    if (l.windowWidth < MainLayout::MinWidth)
        l.windowWidth = MainLayout::MinWidth;
    l.detailsWidth = l.windowWidth - 330;
    l.gridWidth = l.detailsWidth;
}

bool movebar(MainLayout &l, int y)
{
    if (!(y > l.gridTop + 350 && y < l.detailsTop + l.detailsHeight - 350))
        return false;
    l.detailsHeight = l.detailsTop + l.detailsHeight - y;
    l.detailsTop = y;
    l.gridHeight = y - 120 - l.gridTop;
    l.splitTop = y - 120;
    return true;
}

bool toggle_details(MainLayout &l)
{
    if (l.state != MainLayout::State::Normal)
        return false;
    if (l.optdetails) {
        l.optdetails = false;
        l.detailsVisible = false;
        l.windowHeight = l.gridHeight + 1235;
        l.splitterVisible = false;
    } else {
        l.detailsVisible = true;
        l.optdetails = true;
        l.detailsTop = l.gridTop + l.gridHeight + 120;
        l.detailsHeight = 1575;
        l.windowHeight = l.detailsTop + l.detailsHeight + 945;
        l.splitterVisible = true;
        l.splitTop = l.detailsTop - 120;
    }
    applyResizeRule(l);
    return true;
}

void enterSmallMode(MainLayout &l)
{
    l.optdetails = true;
    toggle_details(l);
    // Every change of the window's size runs the resize rule on its own.
    l.windowWidth = halveTwips(l.windowWidth);
    applyResizeRule(l);
    l.windowHeight = halveTwips(l.windowHeight);
    applyResizeRule(l);
}

void leaveSmallMode(MainLayout &l)
{
    l.windowWidth *= 2;
    applyResizeRule(l);
    // The grid grows with the window before the details box is placed below it.
    l.windowHeight *= 2;
    applyResizeRule(l);
    l.optdetails = false;
    toggle_details(l);
}

int halveTwips(int twips)
{
    return static_cast<int>(std::nearbyint(twips / 2.0));
}

} // namespace sentrel
