import QtQuick 2.12
import QtQuick.Controls.Styles 1.4

// Dark look of the context menu and its submenus.
MenuStyle {
    id: darkStyle

    frame: Rectangle {
        color: "#1a1a1a"
    }

    itemDelegate.background: Rectangle {
        color: (styleData.selected || styleData.open) && styleData.enabled ? "#343434" : "#1a1a1a"
    }
    itemDelegate.label: Text {
        text: styleData.text
        font: darkStyle.font
        color: styleData.enabled ? "#d8d8d8" : "#555555"
    }
    itemDelegate.submenuIndicator: Text {
        text: "\u25BA"
        font: darkStyle.font
        color: styleData.enabled ? "#d8d8d8" : "#555555"
    }
    itemDelegate.shortcut: Text {
        text: styleData.shortcut
        font: darkStyle.font
        color: styleData.enabled ? "#d8d8d8" : "#555555"
    }
    itemDelegate.checkmarkIndicator: Item {
        implicitWidth: darkStyle.font.pixelSize > 0 ? darkStyle.font.pixelSize : metrics.height
        implicitHeight: implicitWidth
        TextMetrics {
            id: metrics
            font: darkStyle.font
            text: "•"
        }
        Text {
            anchors.centerIn: parent
            text: "•"
            color: "#d8d8d8"
            visible: styleData.checked
        }
    }
    separator: Rectangle {
        implicitWidth: 1
        implicitHeight: 1
        width: parent ? parent.width : 1
        color: "#343434"
    }
}
