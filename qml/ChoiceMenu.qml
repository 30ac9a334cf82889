import QtQuick 2.12
import QtQuick.Controls 1.4
import QtQml.Models 2.2

// Checkable entries, one per row of a model, created and removed as the model changes;
// the entry whose value equals `value` is checked, choosing one emits picked(choice).
// The model is an array of { text, value } or a list model whose rows carry the roles
// named by textRole and valueRole.
Menu {
    id: root

    property var model: null
    property string textRole: "text"
    property string valueRole: "value"
    property int value: 0
    // Text of the entry whose value is -1 (turns the kind off), when it has its own.
    property string offText: ""
    signal picked(int choice)

    style: DarkMenuStyle {}

    property ExclusiveGroup group: ExclusiveGroup {}

    Instantiator {
        model: root.model
        MenuItem {
            // An array's row comes as modelData; a list model's by its roles.
            readonly property var row: model.modelData !== undefined ? model.modelData : model
            readonly property int entryValue: row[root.valueRole]
            readonly property int entryIndex: index
            text: entryValue === -1 && root.offText !== "" ? root.offText : row[root.textRole]
            checkable: true
            exclusiveGroup: root.group
            checked: root.value === entryValue
            onTriggered: root.picked(entryValue)
        }
        // While the scene loads in the background the entries complete in any order:
        // each goes after those that come before it in the model.
        onObjectAdded: {
            var at = 0
            for (var i = 0; i < root.items.length; ++i) {
                if (root.items[i].entryIndex < index)
                    ++at
            }
            root.insertItem(at, object)
        }
        onObjectRemoved: root.removeItem(object)
    }
}
