#include "server.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "errors.h"
#include "log.h"

namespace transferd {
namespace {

constexpr const char* kObjectPath = "/org/transferd/Manager1";

using Invocation = GDBusMethodInvocation;

gboolean HandleCreateJob(TransferdManager1* object, Invocation* call, const gchar* name, guint type, gpointer self) {
  std::string id;
  guint result = static_cast<Service*>(self)->CreateJob(name, type, &id);
  transferd_manager1_complete_create_job(object, call, result, id.c_str());
  return TRUE;
}

gboolean HandleFindJob(TransferdManager1* object, Invocation* call, const gchar* id, gpointer self) {
  transferd_manager1_complete_find_job(object, call, static_cast<Service*>(self)->FindJob(id));
  return TRUE;
}

gboolean HandleListJobs(TransferdManager1* object, Invocation* call, gpointer self) {
  std::vector<std::string> ids = static_cast<Service*>(self)->ListJobs();
  std::vector<const gchar*> list;
  for (const std::string& id : ids) list.push_back(id.c_str());
  list.push_back(nullptr);
  transferd_manager1_complete_list_jobs(object, call, list.data());
  return TRUE;
}

gboolean HandleAddFile(TransferdManager1* object, Invocation* call, const gchar* id, const gchar* url,
                       const gchar* local, gpointer self) {
  transferd_manager1_complete_add_file(object, call, static_cast<Service*>(self)->AddFile(id, url, local));
  return TRUE;
}

template <std::uint32_t (Service::*Operation)(const std::string&),
          void (*Complete)(TransferdManager1*, Invocation*, guint)>
gboolean HandleJobOperation(TransferdManager1* object, Invocation* call, const gchar* id, gpointer self) {
  Complete(object, call, (static_cast<Service*>(self)->*Operation)(id));
  return TRUE;
}

gboolean HandleGetJob(TransferdManager1* object, Invocation* call, const gchar* id, gpointer self) {
  const Job* job = static_cast<Service*>(self)->Get(id);
  if (!job) {
    transferd_manager1_complete_get_job(object, call, hr::kNotFound, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    return TRUE;
  }
  transferd_manager1_complete_get_job(
      object, call, hr::kOk, job->display_name.c_str(), job->type, static_cast<guint>(job->state), job->BytesTotal(),
      job->BytesTransferred(), static_cast<guint>(job->files.size()), job->FilesTransferred(), job->created,
      job->modified, job->completed, static_cast<guint>(job->error_context), job->error_code, job->retry_delay,
      job->no_progress_timeout);
  return TRUE;
}

gboolean HandleGetFiles(TransferdManager1* object, Invocation* call, const gchar* id, gpointer self) {
  const Job* job = static_cast<Service*>(self)->Get(id);
  GVariantBuilder files;
  g_variant_builder_init(&files, G_VARIANT_TYPE("a(sssttb)"));
  for (const JobFile& file : job ? job->files : std::vector<JobFile>()) {
    g_variant_builder_add(&files, "(sssttb)", file.remote_url.c_str(), file.local_path.c_str(),
                          file.temp_path.c_str(), static_cast<guint64>(file.bytes_total),
                          static_cast<guint64>(file.bytes_done), static_cast<gboolean>(file.whole));
  }
  transferd_manager1_complete_get_files(object, call, job ? hr::kOk : hr::kNotFound, g_variant_builder_end(&files));
  return TRUE;
}

gboolean HandleSetDisplayName(TransferdManager1* object, Invocation* call, const gchar* id, const gchar* name,
                              gpointer self) {
  transferd_manager1_complete_set_display_name(object, call, static_cast<Service*>(self)->SetDisplayName(id, name));
  return TRUE;
}

template <std::uint32_t (Service::*Operation)(const std::string&, std::uint32_t),
          void (*Complete)(TransferdManager1*, Invocation*, guint)>
gboolean HandleJobSetting(TransferdManager1* object, Invocation* call, const gchar* id, guint seconds,
                          gpointer self) {
  Complete(object, call, (static_cast<Service*>(self)->*Operation)(id, seconds));
  return TRUE;
}

template <std::uint32_t (*Describe)(std::uint32_t, std::uint32_t, std::string*),
          void (*Complete)(TransferdManager1*, Invocation*, guint, const gchar*)>
gboolean HandleDescription(TransferdManager1* object, Invocation* call, guint what, guint language, gpointer) {
  std::string text;
  guint result = Describe(what, language, &text);
  Complete(object, call, result, text.c_str());
  return TRUE;
}

}  // namespace

IpcServer::IpcServer(Service& service)
    : m_service(service), m_skeleton(transferd_manager1_skeleton_new()), m_observer(g_dbus_auth_observer_new()) {
  g_signal_connect(m_observer, "authorize-authenticated-peer", G_CALLBACK(&IpcServer::OnAuthorize), this);
  g_signal_connect(m_observer, "allow-mechanism", G_CALLBACK(&IpcServer::OnAllowMechanism), this);
  ConnectHandlers();
}

IpcServer::~IpcServer() {
  if (m_server) {
    g_dbus_server_stop(m_server);
    g_object_unref(m_server);
    unlink(m_socket_path.c_str());
  }
  for (GDBusConnection* connection : m_connections) {
    g_signal_handlers_disconnect_by_data(connection, this);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
  }
  g_dbus_interface_skeleton_unexport(G_DBUS_INTERFACE_SKELETON(m_skeleton));
  g_object_unref(m_skeleton);
  g_object_unref(m_observer);
}

void IpcServer::ConnectHandlers() {
  Service* service = &m_service;
  g_signal_connect(m_skeleton, "handle-create-job", G_CALLBACK(HandleCreateJob), service);
  g_signal_connect(m_skeleton, "handle-find-job", G_CALLBACK(HandleFindJob), service);
  g_signal_connect(m_skeleton, "handle-list-jobs", G_CALLBACK(HandleListJobs), service);
  g_signal_connect(m_skeleton, "handle-add-file", G_CALLBACK(HandleAddFile), service);
  g_signal_connect(m_skeleton, "handle-resume",
                   G_CALLBACK((HandleJobOperation<&Service::Resume, transferd_manager1_complete_resume>)), service);
  g_signal_connect(m_skeleton, "handle-suspend",
                   G_CALLBACK((HandleJobOperation<&Service::Suspend, transferd_manager1_complete_suspend>)), service);
  g_signal_connect(m_skeleton, "handle-cancel",
                   G_CALLBACK((HandleJobOperation<&Service::Cancel, transferd_manager1_complete_cancel>)), service);
  g_signal_connect(m_skeleton, "handle-complete",
                   G_CALLBACK((HandleJobOperation<&Service::Complete, transferd_manager1_complete_complete>)),
                   service);
  g_signal_connect(m_skeleton, "handle-get-job", G_CALLBACK(HandleGetJob), service);
  g_signal_connect(m_skeleton, "handle-get-files", G_CALLBACK(HandleGetFiles), service);
  g_signal_connect(m_skeleton, "handle-set-display-name", G_CALLBACK(HandleSetDisplayName), service);
  g_signal_connect(m_skeleton, "handle-set-minimum-retry-delay",
                   G_CALLBACK((HandleJobSetting<&Service::SetMinimumRetryDelay,
                                                transferd_manager1_complete_set_minimum_retry_delay>)),
                   service);
  g_signal_connect(m_skeleton, "handle-set-no-progress-timeout",
                   G_CALLBACK((HandleJobSetting<&Service::SetNoProgressTimeout,
                                                transferd_manager1_complete_set_no_progress_timeout>)),
                   service);
  g_signal_connect(m_skeleton, "handle-get-error-description",
                   G_CALLBACK((HandleDescription<DescribeIn, transferd_manager1_complete_get_error_description>)),
                   service);
  g_signal_connect(m_skeleton, "handle-get-context-description",
                   G_CALLBACK((HandleDescription<DescribeContextIn,
                                                 transferd_manager1_complete_get_context_description>)),
                   service);
}

bool IpcServer::Listen(const std::string& socket_path, std::string* error) {
  m_socket_path = socket_path;
  gchar* escaped = g_dbus_address_escape_value(socket_path.c_str());
  std::string address = std::string("unix:path=") + escaped;
  g_free(escaped);
  gchar* guid = g_dbus_generate_guid();
  GError* gerror = nullptr;
  m_server = g_dbus_server_new_sync(address.c_str(), G_DBUS_SERVER_FLAGS_NONE, guid, m_observer, nullptr, &gerror);
  g_free(guid);
  if (!m_server) {
    *error = "cannot listen on " + socket_path + ": " + gerror->message;
    g_error_free(gerror);
    return false;
  }
  g_signal_connect(m_server, "new-connection", G_CALLBACK(&IpcServer::OnNewConnection), this);
  g_dbus_server_start(m_server);
  return true;
}

gboolean IpcServer::OnAllowMechanism(GDBusAuthObserver*, const gchar* mechanism, gpointer) {
  return g_strcmp0(mechanism, "EXTERNAL") == 0;
}

// EXTERNAL authentication hands over the credentials the kernel vouches for;
// the socket's own peer credentials are checked as well.
gboolean IpcServer::OnAuthorize(GDBusAuthObserver*, GIOStream* stream, GCredentials* credentials, gpointer) {
  uid_t me = getuid();
  GError* error = nullptr;
  uid_t claimed = credentials ? g_credentials_get_unix_user(credentials, &error) : static_cast<uid_t>(-1);
  g_clear_error(&error);
  uid_t socket_uid = static_cast<uid_t>(-1);
  pid_t pid = -1;
  if (G_IS_SOCKET_CONNECTION(stream)) {
    GSocket* socket = g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream));
    if (GCredentials* peer = g_socket_get_credentials(socket, &error)) {
      socket_uid = g_credentials_get_unix_user(peer, nullptr);
      pid = g_credentials_get_unix_pid(peer, nullptr);
      g_object_unref(peer);
    }
    g_clear_error(&error);
  }
  if (claimed == me && socket_uid == me) return TRUE;
  Log("refused a connection from uid " + std::to_string(static_cast<long>(socket_uid)) + " (pid " +
      std::to_string(pid) + "): only uid " + std::to_string(me) + " may use this transferd");
  return FALSE;
}

gboolean IpcServer::OnNewConnection(GDBusServer*, GDBusConnection* connection, gpointer self) {
  auto* server = static_cast<IpcServer*>(self);
  GError* error = nullptr;
  if (!g_dbus_interface_skeleton_export(G_DBUS_INTERFACE_SKELETON(server->m_skeleton), connection, kObjectPath,
                                        &error)) {
    Log(std::string("cannot serve a new connection: ") + error->message);
    g_error_free(error);
    return FALSE;
  }
  server->m_connections.insert(G_DBUS_CONNECTION(g_object_ref(connection)));
  g_signal_connect(connection, "closed", G_CALLBACK(&IpcServer::OnClosed), server);
  Log("client connected (" + std::to_string(server->m_connections.size()) + " connected)");
  if (server->m_on_clients) server->m_on_clients();
  return TRUE;
}

void IpcServer::OnClosed(GDBusConnection* connection, gboolean, GError*, gpointer self) {
  auto* server = static_cast<IpcServer*>(self);
  g_signal_handlers_disconnect_by_data(connection, server);
  g_dbus_interface_skeleton_unexport_from_connection(G_DBUS_INTERFACE_SKELETON(server->m_skeleton), connection);
  server->m_connections.erase(connection);
  g_object_unref(connection);
  Log("client disconnected (" + std::to_string(server->m_connections.size()) + " connected)");
  if (server->m_on_clients) server->m_on_clients();
}

}  // namespace transferd
