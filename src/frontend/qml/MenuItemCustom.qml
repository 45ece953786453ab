import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Fusion.impl

MenuItem {
    id: item

    property bool isVisible: true
    property bool titleStyle: false
    property bool elideText: false
    property string shortCut: ""

    height: isVisible ? 22 * scf : 0
    enabled: isVisible
    icon.width: 16 * scf
    icon.height: 16 * scf

    // No ids below: an id would make the style build its own content item too.
    contentItem: Item {
        implicitHeight: children[0].implicitHeight

        Text {
            x: item.checkable ? 5 * scf : 0
            width: item.elideText ? item.width : item.width - item.leftPadding - item.rightPadding
            anchors.verticalCenter: parent.verticalCenter
            leftPadding: item.indicator ? item.indicator.width * item.indicator.scale : 0
            rightPadding: item.shortCut === "" && item.arrow ? item.arrow.width : 0
            text: item.text
            font: prop.fonts.font9_12
            color: item.enabled ? "#ffffff" : "#b3b3b3"
            horizontalAlignment: item.titleStyle ? Text.AlignHCenter : Text.AlignLeft
            elide: Text.ElideRight
        }
    }

    // The style draws its box at a fixed size: scaled whole, tick included, like the rest of the menu.
    indicator: CheckIndicator {
        x: item.leftPadding
        y: item.topPadding + (item.availableHeight - height) / 2
        scale: scf
        transformOrigin: Item.Left
        control: item
        visible: item.checkable
    }

    background: Rectangle {
        implicitWidth: 250 * scf
        implicitHeight: 20 * scf
        visible: item.isVisible
        opacity: item.enabled ? 1 : 0.3
        color: item.highlighted ? "#60000000" : "transparent"
    }
}
