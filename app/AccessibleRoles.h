#pragma once

// What Qt does not tell screen readers by itself: the start page's logo (ClickableImage) is a link that can be pressed, and the port box
// (PortBox) is named by what it is rather than by its text, and the rows of a list view
// report themselves as showing only while they are on the screen.
// The roles are installed once, on first use.
void InstallAccessibleRoles();
