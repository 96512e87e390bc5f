// The component base of our class-library stand-in: a named object owned by another
// component, with the loading and destroying states and the removal notification the stream
// chain relies on. Pure C++; every component lives on the main thread.
#pragma once

#include <string>
#include <vector>

enum TOperation { opInsert, opRemove };

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    const std::vector<TComponent*>& Components() const { return components_; }

    // True while the owner reads the component's stored properties; no propagation then.
    bool Loading() const { return loading_; }
    bool Destroying() const { return destroying_; }
    void BeginLoading() { loading_ = true; }
    // Ends loading and lets the component act on its final property values.
    virtual void Loaded();

protected:
    // Told about every component inserted into or removed from the same owner.
    virtual void Notification(TComponent* component, TOperation operation);
    // Derived destructors call this first, so that the rest of teardown knows it.
    void MarkDestroying() { destroying_ = true; }

private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    bool loading_ = false;
    bool destroying_ = false;
};
