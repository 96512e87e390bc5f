#include "generator/forms/Classes.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) {
        owner_->Insert(this);
    }
}

TComponent::~TComponent() {
    destroying_ = true;
    if (owner_) {
        owner_->Remove(this);
    }
}

void TComponent::Loaded() {
    loading_ = false;
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
    for (TComponent* sibling : components_) {
        sibling->Notification(component, opInsert);
    }
    Notification(component, opInsert);
}

void TComponent::Remove(TComponent* component) {
    components_.erase(std::remove(components_.begin(), components_.end(), component),
                      components_.end());
    for (TComponent* sibling : components_) {
        sibling->Notification(component, opRemove);
    }
    Notification(component, opRemove);
}
