// HTTP calls to the control API. Every call carries the token; an answer is the parsed JSON, a
// refusal raises ApiError with the server's status, word and reason (status 0: no answer).

export class ApiError extends Error {
  constructor(status, error, detail) {
    super(detail || error || `status ${status}`);
    this.status = status;
    this.error = error;
  }
}

export const paths = {
  project: () => '/project',
  group: (name) => `/groups/${encodeURIComponent(name)}`,
  groupStep: (name) => `/groups/${encodeURIComponent(name)}/step`,
  device: (address) => `/devices/${encodeURIComponent(address)}`,
  global: () => '/global',
  alarms: () => '/alarms',
  acknowledge: (id) => `/alarms/${encodeURIComponent(id)}/acknowledge`,
  journal: (limit) => `/journal?limit=${limit}`,
};

export class Api {
  constructor(token) {
    this.token = token;
  }

  async call(method, path, body) {
    let response;
    try {
      response = await fetch(`/api/v1${path}`, {
        method,
        cache: 'no-store',
        headers: {
          Authorization: `Bearer ${this.token}`,
          ...(body === undefined ? {} : { 'Content-Type': 'application/json' }),
        },
        body: body === undefined ? undefined : JSON.stringify(body),
      });
    } catch (e) {
      throw new ApiError(0, 'unreachable', 'the controller does not answer');
    }
    let data = null;
    try {
      data = await response.json();
    } catch (e) {
      data = null;
    }
    if (!response.ok)
      throw new ApiError(response.status, data?.error, data?.detail);
    return data;
  }

  get(path) {
    return this.call('GET', path);
  }
  put(path, body) {
    return this.call('PUT', path, body);
  }
  post(path, body) {
    return this.call('POST', path, body);
  }
}
