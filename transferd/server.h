// The IPC side of transferd: a GDBus peer-to-peer server on the user's socket
// that admits only peers of the same user and answers with the service.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "service.h"
#include "transferd-ipc.h"

namespace transferd {

class IpcServer {
 public:
  explicit IpcServer(Service& service);
  ~IpcServer();
  IpcServer(const IpcServer&) = delete;
  IpcServer& operator=(const IpcServer&) = delete;

  bool Listen(const std::string& socket_path, std::string* error);
  std::size_t Clients() const { return m_connections.size(); }
  // Called whenever a client connects or goes.
  void SetClientsHandler(std::function<void()> handler) { m_on_clients = std::move(handler); }

 private:
  static gboolean OnNewConnection(GDBusServer* server, GDBusConnection* connection, gpointer self);
  static void OnClosed(GDBusConnection* connection, gboolean remote_peer_vanished, GError* error, gpointer self);
  static gboolean OnAuthorize(GDBusAuthObserver* observer, GIOStream* stream, GCredentials* credentials,
                              gpointer self);
  static gboolean OnAllowMechanism(GDBusAuthObserver* observer, const gchar* mechanism, gpointer self);
  void ConnectHandlers();

  Service& m_service;
  TransferdManager1* m_skeleton;
  GDBusAuthObserver* m_observer;
  GDBusServer* m_server = nullptr;
  std::string m_socket_path;
  std::set<GDBusConnection*> m_connections;
  std::function<void()> m_on_clients;
};

}  // namespace transferd
