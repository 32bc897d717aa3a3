import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Small print in the secondary colour, wrapping to the width it is given.
Label {
    PopoverTheme { id: captionTheme }
    Layout.fillWidth: true
    wrapMode: Text.WordWrap
    font.pixelSize: captionTheme.caption
    color: captionTheme.secondary
}
